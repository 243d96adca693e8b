# Sourced by the scripts: installs the Debian packages the build needs, only when missing.
LUMORA_PACKAGES=(
  cmake ninja-build g++ pkg-config binutils
  libgtest-dev libgmock-dev libbenchmark-dev
  libusb-1.0-0-dev libjpeg-dev libpng-dev libtiff-dev zlib1g-dev
  libcli11-dev libopencv-core-dev libopencv-imgproc-dev clang libclang-rt-14-dev
  libopencv-imgcodecs-dev libopencv-videoio-dev libtiff-tools imagemagick pngcheck ffmpeg
  dpkg-dev file abigail-tools python3 python3-numpy python3-pytest
  python3-venv python3-pip python3-setuptools python3-mypy
  libgstreamer1.0-dev libgstreamer-plugins-base1.0-dev gstreamer1.0-tools
  gstreamer1.0-plugins-base gstreamer1.0-plugins-good
  libx11-dev libxext-dev libxrender-dev libxcomposite-dev xvfb xauth libgtk-3-dev libopencv-imgproc-dev
  gettext fonts-noto-cjk
  umockdev libumockdev-dev
  doxygen graphviz
)

# The Windows stage only (scripts/test windows): the mingw-w64 cross compiler, Wine to run what
# it builds, nasm for libjpeg-turbo's SIMD code, GoogleTest's sources to cross-build, and what
# scripts/windows-deps needs to fetch and unpack Debian's source packages.
LUMORA_WINDOWS_PACKAGES=(
  g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 mingw-w64-tools
  wine wine64 nasm googletest dpkg-dev make xvfb xauth
)

lumora_install_deps() {
  local missing=()
  local pkg
  for pkg in "${LUMORA_PACKAGES[@]}" "$@"; do
    dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q 'install ok installed' || missing+=("$pkg")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  echo "Installing: ${missing[*]}"
  local sudo=()
  [ "$(id -u)" -ne 0 ] && sudo=(sudo)
  "${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get update -qq
  "${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}"
}

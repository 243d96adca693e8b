"""Python access to Lumora M5XIR TEC cameras through the SDK's C interface.

    import lumora
    with lumora.Camera(sim=1) as cam:          # sim=N: N simulated cameras, no hardware
        cam.bit_depth = 16
        cam.exposure_ms = 20
        frame = cam.snap()                     # numpy array, uint16, shape (height, width)
        for frame in cam.stream(count=100):    # frames of a running preview
            ...

Arrays: every array that `snap` and `stream` return is a new array that Python owns. The SDK
copies each frame into it once, and never touches it again, so an array stays valid for as long
as the program keeps it. A consumer slower than the camera gets the newest frame each time;
`Camera.stream_stats` says how many frames it skipped.

Errors raise `lumora.Error`, whose `code` is the SDK's error code and `meaning` its description.
Calls into the SDK release the interpreter lock (ctypes does so for every foreign call), and
waits for frames wake up regularly so that Ctrl-C interrupts them.

The library is found through the environment variable LUMORA_LIBRARY (a path), then, for an
installed package, in the library folder of the same installation, then in the build tree
beside this source tree, then in the system's library path.
"""

import ctypes
import os
import time

__all__ = ["Camera", "Error", "device_count", "ERROR_MEANINGS", "library"]

ERROR_MEANINGS = {
    0: "no error",
    1: "not ready: no camera driver, or not allowed in this capture state",
    2: "no such camera, or it could not be opened",
    3: "a worker thread could not be started",
    4: "no preview window, or no stored size preset matches",
    5: "out of memory, or the buffer is too small",
    6: "the camera refused or failed the access",
    7: "the capture window does not fit the sensor",
    8: "no frame arrived in time",
    9: "an argument is out of range",
    11: "this camera does not offer the function",
    12: "text conversion failed",
    13: "the camera was lost",
    14: "the mask file could not be read or written",
}

_LIBRARY_NAME = "libLumoraSdk_M5XIR_TEC.so.2"
_MSG_FRAME = 0x8002
_MSG_ERROR = 0x8003
_FILTER_BLACK_LEVEL = 106
_SENSOR_WIDTH = 2560
_SENSOR_HEIGHT = 2048


class Error(Exception):
    """A failed SDK call: `code` is the SDK's error code, `meaning` what it stands for."""

    def __init__(self, what, code):
        self.what = what
        self.code = code
        self.meaning = ERROR_MEANINGS.get(code, "unknown error")
        super().__init__("%s (error %d: %s)" % (what, code, self.meaning))


class _Message(ctypes.Structure):
    _fields_ = [
        ("window", ctypes.c_void_p),
        ("message", ctypes.c_uint),
        ("wParam", ctypes.c_size_t),
        ("lParam", ctypes.c_ssize_t),
    ]


class _CameraInfo(ctypes.Structure):
    _fields_ = [
        ("size", ctypes.c_int32),
        ("maxWidth", ctypes.c_int32),
        ("maxHeight", ctypes.c_int32),
        ("globalGainMin", ctypes.c_int32),
        ("globalGainMax", ctypes.c_int32),
        ("colorGainMin", ctypes.c_int32),
        ("colorGainMax", ctypes.c_int32),
        ("exposureMin", ctypes.c_int32),
        ("exposureMax", ctypes.c_int32),
        ("unused", ctypes.c_int32),
        ("exposureExMin", ctypes.c_double),
        ("exposureExMax", ctypes.c_double),
    ]


class _FrameInfo(ctypes.Structure):
    _fields_ = [
        ("reserved", ctypes.c_int32),
        ("width", ctypes.c_int32),
        ("height", ctypes.c_int32),
        ("bitsPerPixel", ctypes.c_int32),
        ("frameRate10", ctypes.c_int32),
        ("alignment", ctypes.c_int32),
        ("userBuffer", ctypes.c_void_p),
    ]


assert ctypes.sizeof(_CameraInfo) == 56 and ctypes.sizeof(_FrameInfo) == 32

_I = ctypes.c_int
_PI = ctypes.POINTER(ctypes.c_int)
_P = ctypes.c_void_p
_D = ctypes.c_double
_S = ctypes.c_char_p

# name: (result, arguments)
_PROTOTYPES = {
    "Lumora_GetDllVersion": (_I, []),
    "Lumora_Initialize": (_I, [_P]),
    "Lumora_Release": (_I, [_I]),
    "Lumora_GetLastError": (_I, [_I]),
    "Lumora_EnumDevice": (_I, [_I, _S]),
    "Lumora_SetDeviceNumber": (_I, [_I, _I]),
    "Lumora_GetCameraInfo": (_I, [_I, ctypes.POINTER(_CameraInfo)]),
    "Lumora_ReadSerialNumberA": (_I, [_I, _S, _I]),
    "Lumora_CallBackPreview": (_I, [_I, _P, _P, _I, _I]),
    "Lumora_StopPreview": (_I, [_I]),
    "Lumora_Capture": (_I, [_I]),
    "Lumora_SnapShot": (_I, [_I, _P, _I, _I]),
    "Lumora_GetImage": (_I, [_I, _P, _I, _I]),
    "Lumora_Close": (_I, [_I]),
    "Lumora_SaveImage": (_I, [_I, _S, _I]),
    "Lumora_SetColorMode": (_I, [_I, _I]),
    "Lumora_GetColorMode": (_I, [_I]),
    "Lumora_SetCaptureWindowEx": (_I, [_I, _I, _I, _I, _I, _I, _I]),
    "Lumora_GetCaptureWindowEx": (_I, [_I, _PI, _PI, _PI, _PI, _PI, _PI]),
    "Lumora_SetSubSample": (_I, [_I, _I]),
    "Lumora_GetSubSample": (_I, [_I]),
    "Lumora_Width": (_I, [_I]),
    "Lumora_Height": (_I, [_I]),
    "Lumora_SetExposureTimeEx": (_I, [_I, _D]),
    "Lumora_GetExposureTimeEx": (_D, [_I, _PI]),
    "Lumora_SetGlobalGain": (_I, [_I, _I]),
    "Lumora_GetGlobalGain": (_I, [_I, _PI]),
    "Lumora_SetMirrorH": (_I, [_I, _I]),
    "Lumora_SetMirrorV": (_I, [_I, _I]),
    "Lumora_GetMirrorH": (_I, [_I]),
    "Lumora_GetMirrorV": (_I, [_I]),
    "Lumora_SetPeltier": (_I, [_I, _I]),
    "Lumora_GetPeltier": (_I, [_I, _PI]),
    "Lumora_GetTemperatureEx": (_D, [_I, _PI]),
    "Lumora_SetFilterValue": (_I, [_I, _I, _I]),
    "Lumora_GetFilterValue": (_I, [_I, _I, _PI]),
    "LumoraHost_CreateQueueWindow": (_P, []),
    "LumoraHost_WaitMessage": (_I, [_P, _I, ctypes.POINTER(_Message)]),
    "LumoraHost_DestroyWindow": (None, [_P]),
    "LumoraSim_SetCameraCount": (_I, [_I]),
    "LumoraSim_GetCameraCount": (_I, []),
    "LumoraSim_Unplug": (_I, [_I]),
    "LumoraSim_Replug": (_I, [_I]),
    "LumoraSim_SetStaticScene": (None, [_I]),
}

_lib = None


def _candidates():
    explicit = os.environ.get("LUMORA_LIBRARY")
    if explicit:
        yield explicit
        return
    here = os.path.dirname(os.path.abspath(__file__))
    try:
        from . import _installed  # written by the installation
    except ImportError:
        pass
    else:
        path = os.path.join(here, _installed.LIBRARY_DIR, _LIBRARY_NAME)
        if os.path.exists(path):
            yield path
    tree = os.path.dirname(os.path.dirname(here))
    for build in ("build", "build-asan", "build-tsan"):
        path = os.path.join(tree, build, "src", _LIBRARY_NAME)
        if os.path.exists(path):
            yield path
    yield _LIBRARY_NAME


def library():
    """The loaded SDK (a ctypes.CDLL), loaded on first use."""
    global _lib
    if _lib is not None:
        return _lib
    errors = []
    for candidate in _candidates():
        try:
            lib = ctypes.CDLL(candidate)
            break
        except OSError as error:
            errors.append(str(error))
    else:
        raise OSError("cannot load the Lumora SDK: " + "; ".join(errors))
    for name, (result, arguments) in _PROTOTYPES.items():
        function = getattr(lib, name)
        function.restype = result
        function.argtypes = arguments
    _lib = lib
    return lib


def device_count(sim=None):
    """How many cameras are present (sim=N first selects N simulated cameras)."""
    lib = library()
    if sim is not None:
        lib.LumoraSim_SetCameraCount(int(sim))
    handle = lib.Lumora_Initialize(None)
    if handle == 0:
        raise Error("cannot create a session", 5)
    try:
        names = ctypes.create_string_buffer(10 * 256)
        return lib.Lumora_EnumDevice(handle, names)
    finally:
        lib.Lumora_Release(handle)


def _numpy():
    import numpy  # imported on first use, so that `import lumora` works without it

    return numpy


class Camera:
    """One session on one camera.

    device: the device number; None opens the only camera (or device 0 of several).
    sim: when given, the SDK uses that many simulated cameras instead of the USB bus.
    """

    def __init__(self, device=None, sim=None):
        self._lib = library()
        if sim is not None:
            if self._lib.LumoraSim_SetCameraCount(int(sim)) < 0:
                raise Error("cannot simulate %r cameras" % (sim,), 9)
        self._events = self._lib.LumoraHost_CreateQueueWindow()
        self._handle = self._lib.Lumora_Initialize(self._events)
        if self._handle == 0:
            self._lib.LumoraHost_DestroyWindow(self._events)
            raise Error("cannot create a session", 5)
        self.stream_stats = {"frames": 0, "skipped": 0, "failed": 0}
        try:
            if device is not None:
                self._check(self._lib.Lumora_SetDeviceNumber(self._handle, int(device)),
                            "cannot open device %d" % device)
            else:
                names = ctypes.create_string_buffer(10 * 256)
                count = self._lib.Lumora_EnumDevice(self._handle, names)
                if count == 0:
                    raise Error("no camera found", 2)
                if count > 1:
                    self._check(self._lib.Lumora_SetDeviceNumber(self._handle, 0),
                                "cannot open device 0")
        except BaseException:
            self.close()
            raise
        self._drain()

    # -- lifetime ---------------------------------------------------------------------------
    def close(self):
        """Ends any run and releases the session; the object is unusable afterwards."""
        if getattr(self, "_handle", 0):
            self._end_stream()
        if getattr(self, "_handle", 0):
            self._lib.Lumora_Release(self._handle)
            self._handle = 0
        if getattr(self, "_events", None):
            self._lib.LumoraHost_DestroyWindow(self._events)
            self._events = None

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()
        return False

    def __del__(self):
        try:
            self.close()
        except Exception:
            pass

    @property
    def handle(self):
        """The SDK handle, for calls this class does not wrap."""
        self._live()
        return self._handle

    # -- helpers ----------------------------------------------------------------------------
    def _live(self):
        if not self._handle:
            raise Error("the camera is closed", 1)

    def _check(self, result, what):
        if result == 0:
            code = self._lib.Lumora_GetLastError(self._handle) if self._handle else 1
            raise Error(what, code)
        return result

    def _get(self, function, *arguments):
        self._live()
        valid = ctypes.c_int(0)
        value = function(self._handle, *arguments, ctypes.byref(valid))
        if valid.value == 0:
            raise Error("cannot read %s" % function.__name__[7:], self._lib.Lumora_GetLastError(self._handle))
        return value

    def _drain(self):
        message = _Message()
        while self._lib.LumoraHost_WaitMessage(self._events, 0, ctypes.byref(message)):
            pass

    # -- description ------------------------------------------------------------------------
    @property
    def serial(self):
        self._live()
        text = ctypes.create_string_buffer(64)
        self._check(self._lib.Lumora_ReadSerialNumberA(self._handle, text, len(text)),
                    "cannot read the serial number")
        return text.value.decode()

    @property
    def info(self):
        """Sensor size and the ranges of gain and exposure, as a dict."""
        self._live()
        info = _CameraInfo(size=ctypes.sizeof(_CameraInfo))
        self._check(self._lib.Lumora_GetCameraInfo(self._handle, ctypes.byref(info)),
                    "cannot read the camera information")
        return {name: getattr(info, name) for name, _ in _CameraInfo._fields_
                if name not in ("size", "unused")}

    # -- format -----------------------------------------------------------------------------
    @property
    def bit_depth(self):
        self._live()
        return self._lib.Lumora_GetColorMode(self._handle)

    @bit_depth.setter
    def bit_depth(self, bits):
        self._live()
        if bits not in (8, 16):
            raise Error("bit depth %r: this camera delivers 8 or 16 bits" % (bits,), 9)
        self._check(self._lib.Lumora_SetColorMode(self._handle, bits), "bit depth refused")

    @property
    def window(self):
        """The capture window (x, y, width, height) on the sensor."""
        self._live()
        cells = [ctypes.c_int(0) for _ in range(6)]
        self._check(self._lib.Lumora_GetCaptureWindowEx(self._handle, *map(ctypes.byref, cells)),
                    "cannot read the capture window")
        _, x, width, _, y, height = (c.value for c in cells)
        return (x, y, width, height)

    @window.setter
    def window(self, window):
        self._live()
        x, y, width, height = (int(v) for v in window)
        self._check(self._lib.Lumora_SetCaptureWindowEx(self._handle, _SENSOR_WIDTH, x, width,
                                                        _SENSOR_HEIGHT, y, height),
                    "capture window refused")

    @property
    def subsample(self):
        self._live()
        return self._lib.Lumora_GetSubSample(self._handle) != 0

    @subsample.setter
    def subsample(self, on):
        self._live()
        self._check(self._lib.Lumora_SetSubSample(self._handle, 1 if on else 0),
                    "subsampling refused")

    @property
    def shape(self):
        """(height, width) of the frames `snap` and `stream` return."""
        self._live()
        divisor = 2 if self.subsample else 1
        return (self._lib.Lumora_Height(self._handle) // divisor,
                self._lib.Lumora_Width(self._handle) // divisor)

    # -- exposure, gain, orientation, cooler -------------------------------------------------
    @property
    def exposure_s(self):
        return self._get(self._lib.Lumora_GetExposureTimeEx)

    @exposure_s.setter
    def exposure_s(self, seconds):
        self._live()
        self._check(self._lib.Lumora_SetExposureTimeEx(self._handle, float(seconds)),
                    "exposure %r s refused" % (seconds,))

    @property
    def exposure_ms(self):
        return self.exposure_s * 1000.0

    @exposure_ms.setter
    def exposure_ms(self, milliseconds):
        self.exposure_s = float(milliseconds) / 1000.0

    @property
    def gain(self):
        return self._get(self._lib.Lumora_GetGlobalGain)

    @gain.setter
    def gain(self, value):
        self._live()
        self._check(self._lib.Lumora_SetGlobalGain(self._handle, int(value)),
                    "gain %r refused" % (value,))

    @property
    def black_level(self):
        return self._get(self._lib.Lumora_GetFilterValue, _FILTER_BLACK_LEVEL)

    @black_level.setter
    def black_level(self, value):
        self._live()
        self._check(self._lib.Lumora_SetFilterValue(self._handle, _FILTER_BLACK_LEVEL, int(value)),
                    "black level %r refused" % (value,))

    @property
    def mirror_h(self):
        self._live()
        return self._lib.Lumora_GetMirrorH(self._handle) != 0

    @mirror_h.setter
    def mirror_h(self, on):
        self._live()
        self._check(self._lib.Lumora_SetMirrorH(self._handle, 1 if on else 0), "mirror refused")

    @property
    def mirror_v(self):
        self._live()
        return self._lib.Lumora_GetMirrorV(self._handle) != 0

    @mirror_v.setter
    def mirror_v(self, on):
        self._live()
        self._check(self._lib.Lumora_SetMirrorV(self._handle, 1 if on else 0), "mirror refused")

    @property
    def cooler(self):
        return self._get(self._lib.Lumora_GetPeltier) != 0

    @cooler.setter
    def cooler(self, on):
        self._live()
        self._check(self._lib.Lumora_SetPeltier(self._handle, 1 if on else 0), "cooler refused")

    @property
    def temperature(self):
        """The sensor temperature in degrees Celsius."""
        return self._get(self._lib.Lumora_GetTemperatureEx)

    # -- frames -----------------------------------------------------------------------------
    def _new_frame(self):
        """A fresh array for one frame, and the SDK's view of it (stride padded to 4 bytes)."""
        np = _numpy()
        height, width = self.shape
        bits = self.bit_depth
        if bits not in (8, 16):
            raise Error("colour mode %d bits is not a monochrome frame" % bits, 9)
        item = bits // 8
        stride = (width * item + 3) & ~3
        storage = np.empty((height, stride), dtype=np.uint8)
        frame = np.ndarray((height, width), dtype=np.uint8 if item == 1 else "<u2",
                           buffer=storage, strides=(stride, item))
        return frame, storage

    def snap(self):
        """One new frame as a numpy array (uint8 or uint16, shape (height, width))."""
        self._live()
        self._end_stream()
        frame, storage = self._new_frame()
        self._check(self._lib.Lumora_SnapShot(self._handle, storage.ctypes.data, storage.nbytes, 1),
                    "no frame")
        return frame

    def save(self, path, fmt=None):
        """Saves the last frame: format from the extension (.bmp .raw .jpg .png .tif) or a code."""
        self._live()
        if fmt is None:
            formats = {".bmp": 0, ".raw": 1, ".jpg": 2, ".jpeg": 2, ".png": 5, ".tif": 6, ".tiff": 6}
            extension = os.path.splitext(path)[1].lower()
            if extension not in formats:
                raise Error("unknown file type %r" % extension, 9)
            fmt = formats[extension]
        self._check(self._lib.Lumora_SaveImage(self._handle, os.fsencode(path), fmt),
                    "cannot save %s" % path)

    def _end_stream(self):
        # A stream abandoned by its consumer (an exception in the loop body, a break without
        # closing) is still running until the generator is collected; end it before anything
        # else uses the camera.
        stream, self._stream = getattr(self, "_stream", None), None
        if stream is not None:
            stream.close()

    def stream(self, count=None, seconds=None, timeout=5.0):
        """Yields frames of a continuous run until `count` frames or `seconds` have passed
        (both None: until the consumer stops iterating). Each frame is a new array, copied once
        from the SDK's newest processed image. `timeout`: seconds without any frame, beyond the
        camera's own time for one (twice the exposure: a frame under way, then a new one), before
        Error 8 is raised. The run ends when the generator is closed, when it is collected, or
        when the camera is used for anything that needs the run to end (`snap`, another
        `stream`, `close`)."""
        self._live()
        self._end_stream()
        self._stream = self._run_stream(count, seconds, timeout)
        return self._stream

    def _run_stream(self, count, seconds, timeout):
        # The body of stream(); see there.
        self._live()
        self.stream_stats = stats = {"frames": 0, "skipped": 0, "failed": 0}
        timeout += 2.0 * self.exposure_s
        self._drain()
        frames = self._lib.LumoraHost_CreateQueueWindow()
        try:
            try:
                # Started inside the try: a Ctrl-C that arrives while the start is under way
                # still stops the run.
                self._check(self._lib.Lumora_CallBackPreview(self._handle, frames, None, 0, 1),
                            "cannot start the preview")
                start = time.monotonic()
                last = start
                message = _Message()
                while count is None or stats["frames"] < count:
                    now = time.monotonic()
                    if seconds is not None and now - start >= seconds:
                        return
                    if now - last > timeout:
                        raise Error("no frame for %.1f s" % timeout, 8)
                    # Short waits: the lock is released inside, and Ctrl-C is seen between them.
                    if not self._lib.LumoraHost_WaitMessage(frames, 100, ctypes.byref(message)):
                        continue
                    if message.message != _MSG_FRAME:
                        continue
                    if message.wParam == 0:
                        stats["failed"] += 1
                        if message.lParam == 13:
                            raise Error("the camera was lost", 13)
                        continue
                    # Only the newest frame is worth copying; older notices are counted.
                    lost = False
                    while self._lib.LumoraHost_WaitMessage(frames, 0, ctypes.byref(message)):
                        if message.message != _MSG_FRAME:
                            continue
                        if message.wParam != 0:
                            stats["skipped"] += 1
                        else:
                            stats["failed"] += 1
                            lost = lost or message.lParam == 13
                    if lost:
                        raise Error("the camera was lost", 13)
                    frame, storage = self._new_frame()
                    self._check(self._lib.Lumora_GetImage(self._handle, storage.ctypes.data,
                                                          storage.nbytes, 1), "cannot copy the frame")
                    last = time.monotonic()
                    stats["frames"] += 1
                    yield frame
            finally:
                self._lib.Lumora_StopPreview(self._handle)
                self._lib.Lumora_Close(self._handle)
        finally:
            self._lib.LumoraHost_DestroyWindow(frames)

"""Python access to Lumora M5XIR TEC cameras through the SDK's C interface.

    import lumora
    with lumora.Camera(sim=1) as cam:          # sim=N: N simulated cameras, no hardware
        cam.bit_depth = 16
        cam.exposure_ms = 20
        frame = cam.snap()                     # numpy array, uint16, shape (height, width)
        for frame in cam.stream(count=100):    # frames of a running preview
            ...

Triggered frames: with `cam.trigger = True`, `stream()` runs a trigger run, one frame per pulse
on the camera's trigger input; `cam.fire_trigger()` is that pulse for a simulated camera.
Image filters and corrections are properties (`gamma`, `contrast`, `sharpness`, `gray_mode`,
`dot_filter`, `flat_field`, ...); the flat field's references come from
`capture_reference("dark")` / `capture_reference("bright")` and live in mask files
(`save_mask`, `load_mask`).

Arrays: every array that `snap` and `stream` return is a `Frame`, a numpy array Python owns with
the frame's metadata in `.meta` (the camera's frame counter, the arrival time, the settings in
effect, the frames skipped before it). The SDK fills each array once and never touches it again,
so an array stays valid for as long as the program keeps it. By default a consumer slower than
the camera gets the newest frame each time; `stream(every=True, queue=N)` gets every frame in
order instead, through N buffers the SDK fills without a copy, and each frame says how many were
dropped before it because all N were in use. `Camera.stream_stats` holds the SDK's own figures
of the run.

Errors raise `lumora.Error`, whose `code` is the SDK's error code and `meaning` its description.
Calls into the SDK release the interpreter lock (ctypes does so for every foreign call), and
waits for frames wake up regularly so that Ctrl-C interrupts them.

The library is found through the environment variable LUMORA_LIBRARY (a path), then, for an
installed package, in the library folder of the same installation, then in the library folder
of the Python prefix (a virtual environment or prefix the library was installed into), then in
the build tree beside this source tree, then in the system's library path.
"""

from __future__ import annotations

import contextlib
import ctypes
import importlib
import os
import sys
import time
from dataclasses import dataclass
from typing import (TYPE_CHECKING, Any, Callable, Dict, Generator, Generic, Iterator, List,
                    Optional, Tuple, TypedDict, TypeVar, Union, overload)

if TYPE_CHECKING:
    import numpy

    class FrameArray(numpy.ndarray[Any, Any]):
        """What `snap` and `stream` return: a numpy array with the frame's metadata."""

        meta: Optional[FrameMeta]

__all__ = ["Camera", "CameraEntry", "Error", "Frame", "FrameArray", "FrameMeta", "device_count",
           "ERROR_MEANINGS", "library"]

ERROR_MEANINGS: Dict[int, str] = {
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
_FILTER_DOT = 102
_FILTER_MASK = 103
_SENSOR_WIDTH = 2560
_SENSOR_HEIGHT = 2048


class Error(Exception):
    """A failed SDK call: `code` is the SDK's error code, `meaning` what it stands for."""

    def __init__(self, what: str, code: int) -> None:
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


class _FrameMeta(ctypes.Structure):
    _fields_ = [
        ("frameCounter", ctypes.c_uint32),
        ("valid", ctypes.c_uint32),
        ("arrivalNs", ctypes.c_int64),
        ("arrivalWallNs", ctypes.c_int64),
        ("skippedBefore", ctypes.c_uint64),
        ("exposureSeconds", ctypes.c_double),
        ("temperature", ctypes.c_double),
        ("temperatureValid", ctypes.c_int32),
        ("gain", ctypes.c_int32),
        ("blackLevel", ctypes.c_int32),
        ("bitDepth", ctypes.c_int32),
        ("windowX", ctypes.c_int32),
        ("windowY", ctypes.c_int32),
        ("windowWidth", ctypes.c_int32),
        ("windowHeight", ctypes.c_int32),
        ("subSample", ctypes.c_int32),
        ("width", ctypes.c_int32),
        ("height", ctypes.c_int32),
    ]


class _QueuedFrame(ctypes.Structure):
    _fields_ = [
        ("buffer", ctypes.c_void_p),
        ("bytes", ctypes.c_uint64),
        ("droppedBefore", ctypes.c_uint64),
        ("droppedTotal", ctypes.c_uint64),
        ("index", ctypes.c_int32),
        ("bitsPerPixel", ctypes.c_int32),
        ("meta", _FrameMeta),
    ]


class _StreamStats(ctypes.Structure):
    _fields_ = [
        ("framesSent", ctypes.c_uint64),
        ("framesDelivered", ctypes.c_uint64),
        ("framesSkipped", ctypes.c_uint64),
        ("framesFailed", ctypes.c_uint64),
    ]


assert ctypes.sizeof(_CameraInfo) == 56 and ctypes.sizeof(_FrameInfo) == 32
assert ctypes.sizeof(_FrameMeta) == 96 and ctypes.sizeof(_QueuedFrame) == 136


@dataclass(frozen=True)
class FrameMeta:
    """What is known of one frame besides its pixels.

    frame_counter: the camera's counter from the frame's header.
    arrival_ns: when the host had the whole frame, on the monotonic clock (time.monotonic_ns).
    arrival_wall_ns: the same moment on the system clock (time.time_ns).
    exposure_s: the exposure the frame was taken with, from the exposure lines in its header (a
    frame exposed before a change and delivered after it keeps the old exposure); exactly the
    setting Camera.exposure_s reported when the lines are those of a setting.
    gain, black_level: those the library had given the camera when the frame's header arrived.
    bit_depth: bits per sample on the wire.
    window: (x, y, width, height) on the sensor before subsampling; subsample: the mode.
    temperature: the sensor temperature at the last reading (Camera.temperature), or None.
    skipped_before: frames the camera sent since the previous frame of the run that never
    reached the application; dropped_before: of those, frames dropped because every queue
    buffer was in use (stream(every=True) only).
    """

    frame_counter: int
    arrival_ns: int
    arrival_wall_ns: int
    exposure_s: float
    gain: int
    black_level: int
    bit_depth: int
    window: Tuple[int, int, int, int]
    subsample: int
    temperature: Optional[float]
    skipped_before: int
    dropped_before: int = 0

    @classmethod
    def _from(cls, m: _FrameMeta, dropped: int = 0) -> FrameMeta:
        return cls(int(m.frameCounter), int(m.arrivalNs), int(m.arrivalWallNs),
                   float(m.exposureSeconds), int(m.gain), int(m.blackLevel), int(m.bitDepth),
                   (int(m.windowX), int(m.windowY), int(m.windowWidth), int(m.windowHeight)),
                   int(m.subSample), float(m.temperature) if m.temperatureValid else None,
                   int(m.skippedBefore) + dropped, dropped)


_I = ctypes.c_int
_PI = ctypes.POINTER(ctypes.c_int)
_P = ctypes.c_void_p
_D = ctypes.c_double
_S = ctypes.c_char_p

# name: (result, arguments)
_PROTOTYPES: Dict[str, Tuple[Any, List[Any]]] = {
    "Lumora_GetDllVersion": (_I, []),
    "Lumora_Initialize": (_I, [_P]),
    "Lumora_Release": (_I, [_I]),
    "Lumora_GetLastError": (_I, [_I]),
    "Lumora_EnumDevice": (_I, [_I, _S]),
    "Lumora_SetDeviceNumber": (_I, [_I, _I]),
    "Lumora_GetDeviceName": (_I, [_I, _I, _S, _I]),
    "Lumora_GetCameraInfo": (_I, [_I, ctypes.POINTER(_CameraInfo)]),
    "Lumora_ReadSerialNumberA": (_I, [_I, _S, _I]),
    "Lumora_CallBackPreview": (_I, [_I, _P, _P, _I, _I]),
    "Lumora_StopPreview": (_I, [_I]),
    "Lumora_Capture": (_I, [_I]),
    "Lumora_SnapShot": (_I, [_I, _P, _I, _I]),
    "Lumora_GetImage": (_I, [_I, _P, _I, _I]),
    "Lumora_Close": (_I, [_I]),
    "Lumora_Trigger": (_I, [_I, _P, _P, _I, _I]),
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
    "Lumora_UpdateMaskData": (_I, [_I, _I]),
    "Lumora_SaveMaskFile": (_I, [_I, _S]),
    "Lumora_LoadMaskFile": (_I, [_I, _S]),
    "LumoraHost_CreateQueueWindow": (_P, []),
    "LumoraHost_GetStreamStats": (_I, [_I, ctypes.POINTER(_StreamStats)]),
    "LumoraHost_GetFrameMeta": (_I, [_I, ctypes.POINTER(_FrameMeta)]),
    "LumoraHost_GetFramePeriod": (_I, [_I, ctypes.POINTER(ctypes.c_double)]),
    "LumoraHost_GetImageWithMeta": (_I, [_I, _P, _I, _I, ctypes.POINTER(_FrameMeta)]),
    "LumoraHost_StartQueuedPreview": (_I, [_I, _I, ctypes.POINTER(ctypes.c_void_p), _I, _I]),
    "LumoraHost_WaitQueuedFrame": (_I, [_I, _I, ctypes.POINTER(_QueuedFrame)]),
    "LumoraHost_ReleaseQueuedFrame": (_I, [_I, _I, _P]),
    "LumoraHost_GetQueuedDrops": (_I, [_I, ctypes.POINTER(ctypes.c_uint64)]),
    "LumoraHost_WaitMessage": (_I, [_P, _I, ctypes.POINTER(_Message)]),
    "LumoraHost_DestroyWindow": (None, [_P]),
    "LumoraSim_SetCameraCount": (_I, [_I]),
    "LumoraSim_GetCameraCount": (_I, []),
    "LumoraSim_Unplug": (_I, [_I]),
    "LumoraSim_Replug": (_I, [_I]),
    "LumoraSim_SetStaticScene": (None, [_I]),
    "LumoraSim_GetSerialNumber": (_I, [_I, _S, _I]),
    "LumoraSim_FireTrigger": (_I, [_I]),
    "LumoraSim_ShowFlatTarget": (_I, [_I, _I]),
}

_lib: Optional[ctypes.CDLL] = None


def _candidates() -> Iterator[str]:
    explicit = os.environ.get("LUMORA_LIBRARY")
    if explicit:
        yield explicit
        return
    here = os.path.dirname(os.path.abspath(__file__))
    try:
        # Written by the installation: LIBRARY_DIR, the library's folder from here.
        installed = importlib.import_module("._installed", __name__)
    except ImportError:
        pass
    else:
        path = os.path.join(here, str(installed.LIBRARY_DIR), _LIBRARY_NAME)
        if os.path.exists(path):
            yield path
    # Installed with pip into a prefix that holds the library as well.
    for folder in ("lib", "lib/x86_64-linux-gnu", "lib/aarch64-linux-gnu"):
        path = os.path.join(sys.prefix, folder, _LIBRARY_NAME)
        if os.path.exists(path):
            yield path
    tree = os.path.dirname(os.path.dirname(here))
    for build in ("build", "build-asan", "build-tsan"):
        path = os.path.join(tree, build, "src", _LIBRARY_NAME)
        if os.path.exists(path):
            yield path
    yield _LIBRARY_NAME


def library() -> ctypes.CDLL:
    """The loaded SDK (a ctypes.CDLL), loaded on first use."""
    global _lib
    if _lib is not None:
        return _lib
    errors: List[str] = []
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


@contextlib.contextmanager
def _bare_session(sim: Optional[int]) -> Iterator[Tuple[ctypes.CDLL, int]]:
    """A session on no camera yet, for looking at what is present (sim=N first selects N
    simulated cameras); released on leaving."""
    lib = library()
    if sim is not None:
        lib.LumoraSim_SetCameraCount(int(sim))
    handle = lib.Lumora_Initialize(None)
    if handle == 0:
        raise Error("cannot create a session", 5)
    try:
        yield lib, handle
    finally:
        lib.Lumora_Release(handle)


def device_count(sim: Optional[int] = None) -> int:
    """How many cameras are present (sim=N first selects N simulated cameras)."""
    with _bare_session(sim) as (lib, handle):
        names = ctypes.create_string_buffer(10 * 256)
        return int(lib.Lumora_EnumDevice(handle, names))


def _frame_class() -> Any:
    """numpy.ndarray with a `meta` attribute, made on first use (numpy is imported lazily)."""
    global _Frame
    if _Frame is None:
        import numpy  # imported on first use, so that `import lumora` works without it

        class Frame(numpy.ndarray[Any, Any]):
            """A frame: a numpy array whose `meta` is its FrameMeta (None for derived arrays)."""

            meta: Optional[FrameMeta]

            def __array_finalize__(self, obj: Any) -> None:
                self.meta = getattr(obj, "meta", None)

        _Frame = Frame
    return _Frame


_Frame: Any = None


def Frame(array: Any, meta: Optional[FrameMeta]) -> FrameArray:
    """Views `array` as a frame carrying `meta`, without a copy."""
    frame: FrameArray = array.view(_frame_class())
    frame.meta = meta
    return frame


def __getattr__(name: str) -> Any:
    # `lumora.FrameArray` at run time: the frame class, made when numpy is first needed.
    if name == "FrameArray":
        return _frame_class()
    raise AttributeError("module 'lumora' has no attribute %r" % (name,))


def _numpy() -> Any:
    import numpy  # imported on first use, so that `import lumora` works without it

    return numpy


_T = TypeVar("_T")


class _Filter(Generic[_T]):
    """A filter value of the SDK (Lumora_GetFilterValue / Lumora_SetFilterValue by id) as a
    property of Camera: read from and written to the session each time, in the SDK's unit
    converted by `to_python` and `to_sdk`. The session keeps host-side values per camera and
    applies them from the next frame on, in any capture state."""

    def __init__(self, filter_id: int, doc: str, to_python: Callable[[int], _T],
                 to_sdk: Callable[[_T], int]) -> None:
        self._id = filter_id
        self._to_python = to_python
        self._to_sdk = to_sdk
        self._name = "filter %d" % filter_id
        self.__doc__ = doc

    def __set_name__(self, owner: type, name: str) -> None:
        self._name = name

    @overload
    def __get__(self, camera: None, owner: type) -> _Filter[_T]: ...

    @overload
    def __get__(self, camera: Camera, owner: type) -> _T: ...

    def __get__(self, camera: Optional[Camera], owner: type) -> Any:
        if camera is None:
            return self
        return self._to_python(camera._get(camera._lib.Lumora_GetFilterValue, self._id))

    def __set__(self, camera: Camera, value: _T) -> None:
        camera._live()
        camera._check(camera._lib.Lumora_SetFilterValue(camera._handle, self._id,
                                                         self._to_sdk(value)),
                      "%s %r refused" % (self._name, value))


def _steps(filter_id: int, doc: str) -> _Filter[int]:
    return _Filter(filter_id, doc, int, int)


def _switch(filter_id: int, doc: str) -> _Filter[bool]:
    return _Filter(filter_id, doc, bool, lambda on: 1 if on else 0)


def _hundredths(filter_id: int, doc: str) -> _Filter[float]:
    return _Filter(filter_id, doc, lambda v: v / 100.0, lambda v: int(round(float(v) * 100)))


class CameraEntry(TypedDict):
    """One camera of Camera.list()."""

    device: int
    name: str
    serial: Optional[str]


class Camera:
    """One session on one camera.

    device: the device number; None opens the only camera (or device 0 of several).
    sim: when given, the SDK uses that many simulated cameras instead of the USB bus.
    serial: opens the camera with this serial number instead (Camera.list() shows them).
    """

    @staticmethod
    def list(sim: Optional[int] = None) -> List[CameraEntry]:
        """The cameras present: a list of dicts with `device` (the number to open), `name` and
        `serial`. Each camera is opened briefly to read its serial number; one in use by
        another program shows with serial None."""
        cameras: List[CameraEntry] = []
        with _bare_session(sim) as (lib, handle):
            name = ctypes.create_string_buffer(256)
            text = ctypes.create_string_buffer(64)
            for device in range(32):
                if lib.Lumora_GetDeviceName(handle, device, name, len(name)) != 1:
                    continue
                serial = None
                if lib.Lumora_SetDeviceNumber(handle, device) == 1 and \
                        lib.Lumora_ReadSerialNumberA(handle, text, len(text)) == 1:
                    serial = text.value.decode()
                cameras.append({"device": device, "name": name.value.decode(), "serial": serial})
            while lib.Lumora_GetLastError(handle) != 0:
                pass
        return cameras

    def __init__(self, device: Optional[int] = None, sim: Optional[int] = None,
                 serial: Optional[str] = None) -> None:
        self._handle = 0
        self._events: Optional[int] = None
        self._stream: Optional[Generator[FrameArray, None, None]] = None
        self._trigger = False
        if serial is not None:
            if device is not None:
                raise Error("give a device number or a serial number, not both", 9)
            found = [c["device"] for c in Camera.list(sim) if c["serial"] == serial]
            if not found:
                raise Error("no camera with serial number %r" % (serial,), 2)
            device, sim = found[0], None
        self._lib = library()
        if sim is not None:
            if self._lib.LumoraSim_SetCameraCount(int(sim)) < 0:
                raise Error("cannot simulate %r cameras" % (sim,), 9)
        self._events = self._lib.LumoraHost_CreateQueueWindow()
        self._handle = self._lib.Lumora_Initialize(self._events)
        if self._handle == 0:
            self._lib.LumoraHost_DestroyWindow(self._events)
            raise Error("cannot create a session", 5)
        self._yielded = 0
        self._restart = False
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
    def close(self) -> None:
        """Ends any run and releases the session; the object is unusable afterwards."""
        if getattr(self, "_handle", 0):
            self._end_stream()
        if getattr(self, "_handle", 0):
            self._lib.Lumora_Release(self._handle)
            self._handle = 0
        if getattr(self, "_events", None):
            self._lib.LumoraHost_DestroyWindow(self._events)
            self._events = None

    def __enter__(self) -> Camera:
        return self

    def __exit__(self, *exc: object) -> None:
        self.close()

    def __del__(self) -> None:
        try:
            self.close()
        except Exception:
            pass

    @property
    def handle(self) -> int:
        """The SDK handle, for calls this class does not wrap."""
        self._live()
        return self._handle

    # -- helpers ----------------------------------------------------------------------------
    def _live(self) -> None:
        if not self._handle:
            raise Error("the camera is closed", 1)

    def _check(self, result: int, what: str) -> int:
        if result == 0:
            code = self._lib.Lumora_GetLastError(self._handle) if self._handle else 1
            raise Error(what, code)
        return result

    def _get(self, function: Any, *arguments: Any) -> Any:
        self._live()
        valid = ctypes.c_int(0)
        value = function(self._handle, *arguments, ctypes.byref(valid))
        if valid.value == 0:
            raise Error("cannot read %s" % function.__name__[7:],
                        self._lib.Lumora_GetLastError(self._handle))
        return value

    def _format_changed(self) -> None:
        # A run keeps the shape it was prepared with; a running stream restarts with the new
        # one before its next frame.
        if getattr(self, "_stream", None) is not None:
            self._restart = True

    @property
    def stream_stats(self) -> Dict[str, int]:
        """The SDK's figures of the current or last run: `sent` (frames the camera numbered),
        `delivered`, `skipped` (sent, never delivered: the consumer was busy, or the queue was
        full), `failed`; and `frames`, the frames the last stream yielded. With every=True,
        `frames` equals `delivered` once the stream has ended; by default the SDK delivers
        frames the stream passes over for a newer one."""
        self._live()
        stats = _StreamStats()
        self._check(self._lib.LumoraHost_GetStreamStats(self._handle, ctypes.byref(stats)),
                    "cannot read the stream figures")
        return {"sent": int(stats.framesSent), "delivered": int(stats.framesDelivered),
                "skipped": int(stats.framesSkipped), "failed": int(stats.framesFailed),
                "frames": self._yielded}

    @property
    def last_meta(self) -> Optional[FrameMeta]:
        """The metadata of the frame the last run announced last, or None."""
        self._live()
        meta = _FrameMeta()
        self._check(self._lib.LumoraHost_GetFrameMeta(self._handle, ctypes.byref(meta)),
                    "cannot read the frame metadata")
        return FrameMeta._from(meta) if meta.valid else None

    def _drain(self) -> None:
        message = _Message()
        while self._lib.LumoraHost_WaitMessage(self._events, 0, ctypes.byref(message)):
            pass

    # -- description ------------------------------------------------------------------------
    @property
    def serial(self) -> str:
        """The camera's serial number."""
        self._live()
        text = ctypes.create_string_buffer(64)
        self._check(self._lib.Lumora_ReadSerialNumberA(self._handle, text, len(text)),
                    "cannot read the serial number")
        return text.value.decode()

    @property
    def info(self) -> Dict[str, float]:
        """Sensor size and the ranges of gain and exposure, as a dict."""
        self._live()
        info = _CameraInfo(size=ctypes.sizeof(_CameraInfo))
        self._check(self._lib.Lumora_GetCameraInfo(self._handle, ctypes.byref(info)),
                    "cannot read the camera information")
        return {name: getattr(info, name) for name, _ in _CameraInfo._fields_
                if name not in ("size", "unused")}

    # -- format -----------------------------------------------------------------------------
    @property
    def bit_depth(self) -> int:
        """Bits per sample of the frames: 8, or 16 (each word holding a 12-bit sample). Set
        during a stream, the stream restarts with it before its next frame."""
        self._live()
        return int(self._lib.Lumora_GetColorMode(self._handle))

    @bit_depth.setter
    def bit_depth(self, bits: int) -> None:
        self._live()
        if bits not in (8, 16):
            raise Error("bit depth %r: this camera delivers 8 or 16 bits" % (bits,), 9)
        self._check(self._lib.Lumora_SetColorMode(self._handle, bits), "bit depth refused")
        self._format_changed()

    @property
    def window(self) -> Tuple[int, int, int, int]:
        """The capture window (x, y, width, height) on the sensor. Set during a stream, the
        stream restarts with it before its next frame."""
        self._live()
        cells = [ctypes.c_int(0) for _ in range(6)]
        self._check(self._lib.Lumora_GetCaptureWindowEx(self._handle, *map(ctypes.byref, cells)),
                    "cannot read the capture window")
        _, x, width, _, y, height = (c.value for c in cells)
        return (x, y, width, height)

    @window.setter
    def window(self, window: Tuple[int, int, int, int]) -> None:
        self._live()
        x, y, width, height = (int(v) for v in window)
        self._check(self._lib.Lumora_SetCaptureWindowEx(self._handle, _SENSOR_WIDTH, x, width,
                                                        _SENSOR_HEIGHT, y, height),
                    "capture window refused")
        self._format_changed()

    @property
    def subsample(self) -> bool:
        """Half resolution (two-by-two readout). Set during a stream, the stream restarts with
        it before its next frame."""
        self._live()
        return bool(self._lib.Lumora_GetSubSample(self._handle) != 0)

    @subsample.setter
    def subsample(self, on: bool) -> None:
        self._live()
        self._check(self._lib.Lumora_SetSubSample(self._handle, 1 if on else 0),
                    "subsampling refused")
        self._format_changed()

    @property
    def shape(self) -> Tuple[int, int]:
        """(height, width) of the frames `snap` and `stream` return."""
        self._live()
        divisor = 2 if self.subsample else 1
        return (int(self._lib.Lumora_Height(self._handle)) // divisor,
                int(self._lib.Lumora_Width(self._handle)) // divisor)

    @property
    def frame_period(self) -> float:
        """The camera's frame period in free run, in seconds, at its current timing: it follows
        the window, the bit depth (from the next run or snapshot) and exposures longer than
        the readout. 1 / frame_period is the camera's frame rate."""
        self._live()
        seconds = ctypes.c_double(0.0)
        self._check(self._lib.LumoraHost_GetFramePeriod(self._handle, ctypes.byref(seconds)),
                    "cannot read the frame period")
        return float(seconds.value)

    # -- exposure, gain, orientation, cooler -------------------------------------------------
    @property
    def exposure_s(self) -> float:
        """The exposure in seconds (from the next frame on, also during a stream)."""
        return float(self._get(self._lib.Lumora_GetExposureTimeEx))

    @exposure_s.setter
    def exposure_s(self, seconds: float) -> None:
        self._live()
        self._check(self._lib.Lumora_SetExposureTimeEx(self._handle, float(seconds)),
                    "exposure %r s refused" % (seconds,))

    @property
    def exposure_ms(self) -> float:
        """The exposure in milliseconds."""
        return self.exposure_s * 1000.0

    @exposure_ms.setter
    def exposure_ms(self, milliseconds: float) -> None:
        self.exposure_s = float(milliseconds) / 1000.0

    @property
    def gain(self) -> int:
        """The sensor's analog gain in its steps (Camera.info gives the range)."""
        return int(self._get(self._lib.Lumora_GetGlobalGain))

    @gain.setter
    def gain(self, value: int) -> None:
        self._live()
        self._check(self._lib.Lumora_SetGlobalGain(self._handle, int(value)),
                    "gain %r refused" % (value,))

    @property
    def black_level(self) -> int:
        """The sensor's black level in 12-bit sample steps, 0..4095."""
        return int(self._get(self._lib.Lumora_GetFilterValue, _FILTER_BLACK_LEVEL))

    @black_level.setter
    def black_level(self, value: int) -> None:
        self._live()
        self._check(self._lib.Lumora_SetFilterValue(self._handle, _FILTER_BLACK_LEVEL, int(value)),
                    "black level %r refused" % (value,))

    @property
    def mirror_h(self) -> bool:
        """Frames mirrored left to right."""
        self._live()
        return bool(self._lib.Lumora_GetMirrorH(self._handle) != 0)

    @mirror_h.setter
    def mirror_h(self, on: bool) -> None:
        self._live()
        self._check(self._lib.Lumora_SetMirrorH(self._handle, 1 if on else 0), "mirror refused")

    @property
    def mirror_v(self) -> bool:
        """Frames mirrored top to bottom."""
        self._live()
        return bool(self._lib.Lumora_GetMirrorV(self._handle) != 0)

    @mirror_v.setter
    def mirror_v(self, on: bool) -> None:
        self._live()
        self._check(self._lib.Lumora_SetMirrorV(self._handle, 1 if on else 0), "mirror refused")

    @property
    def cooler(self) -> bool:
        """The thermo-electric cooler."""
        return bool(self._get(self._lib.Lumora_GetPeltier) != 0)

    @cooler.setter
    def cooler(self, on: bool) -> None:
        self._live()
        self._check(self._lib.Lumora_SetPeltier(self._handle, 1 if on else 0), "cooler refused")

    @property
    def temperature(self) -> float:
        """The sensor temperature in degrees Celsius (a new reading each time)."""
        return float(self._get(self._lib.Lumora_GetTemperatureEx))

    # -- image filters and corrections ------------------------------------------------------
    # Host-side: the library applies them to every frame from the next one on, in any capture
    # state, and stores them per camera. A value out of range raises Error 9.
    brightness = _steps(1, "Brightness, -255..255 (1/255 of full scale), added after gamma, "
                           "contrast and sharpness; 0 leaves the frame alone.")
    contrast = _steps(2, "Contrast, -127..127: positive stretches the samples about the middle "
                         "of the range, negative compresses them; 0 leaves them alone.")
    sharpness = _steps(5, "Strength of a 3 x 3 sharpening, 0..30; 0 is off.")
    gamma = _hundredths(11, "Gamma, 0.0..2.0 in steps of 0.01: each sample on the scale 0..1 "
                            "becomes sample ** (1 / gamma); 1.0 is linear, higher brightens the "
                            "dark parts, lower darkens them.")
    gray_mode = _steps(19, "Gray mode: 0 off; 1 gain and offset per site of the 2 x 2 pattern "
                           "(gray_gain_* and gray_offset_*); 2 luminance through a colour "
                           "conversion (8 bits only).")
    gray_gain_r = _steps(20, "Gray mode 1: gain of the R site, 0..255 in 1/128 (128 unity).")
    gray_gain_g1 = _steps(21, "Gray mode 1: gain of the G1 site, 0..255 in 1/128 (128 unity).")
    gray_gain_g2 = _steps(22, "Gray mode 1: gain of the G2 site, 0..255 in 1/128 (128 unity).")
    gray_gain_b = _steps(23, "Gray mode 1: gain of the B site, 0..255 in 1/128 (128 unity).")
    gray_offset_r = _steps(24, "Gray mode 1: offset of the R site, -255..255 (8-bit steps).")
    gray_offset_g1 = _steps(25, "Gray mode 1: offset of the G1 site, -255..255 (8-bit steps).")
    gray_offset_g2 = _steps(26, "Gray mode 1: offset of the G2 site, -255..255 (8-bit steps).")
    gray_offset_b = _steps(27, "Gray mode 1: offset of the B site, -255..255 (8-bit steps).")
    dot_filter = _switch(_FILTER_DOT, "Defective-pixel correction on the host: pixels that the "
                                      "dark and bright references show as hot or dead are "
                                      "replaced from their neighbours.")
    flat_field = _switch(_FILTER_MASK, "Flat-field correction on the host from the dark and "
                                       "bright references (capture_reference, load_mask): "
                                       "evens out shading and the fixed dark pattern.")
    gain_mode = _steps(104, "The sensor's conversion gain: 0 high, 1 low.")

    # -- flat field: references and mask files ---------------------------------------------
    def capture_reference(self, kind: str) -> FrameArray:
        """Takes a new frame as the dark (kind "dark": a covered sensor) or bright (kind
        "bright": an even bright field) reference of the flat-field and defect corrections, for
        the current bit depth, and returns that frame as snap gives it. References are whole-sensor frames: the
        window must be the whole sensor without subsampling (Error 7 otherwise)."""
        self._live()
        which = {"dark": 0, "bright": 1}.get(kind)
        if which is None:
            raise Error("reference %r: \"dark\" or \"bright\"" % (kind,), 9)
        if self.window != (0, 0, _SENSOR_WIDTH, _SENSOR_HEIGHT) or self.subsample:
            # The library would ignore the frame and still report success.
            raise Error("a reference is a whole-sensor frame: set window to (0, 0, %d, %d) "
                        "without subsampling" % (_SENSOR_WIDTH, _SENSOR_HEIGHT), 7)
        frame = self.snap()
        self._check(self._lib.Lumora_UpdateMaskData(self._handle, which),
                    "cannot take the %s reference" % kind)
        return frame

    def save_mask(self, path: Union[str, os.PathLike[str]]) -> None:
        """Saves the dark and bright references (8 and 16 bits) to a mask file."""
        self._live()
        self._check(self._lib.Lumora_SaveMaskFile(self._handle, os.fsencode(path)),
                    "cannot save the mask file %s" % os.fspath(path))

    def load_mask(self, path: Union[str, os.PathLike[str]]) -> None:
        """Loads the dark and bright references from a mask file that save_mask wrote."""
        self._live()
        self._check(self._lib.Lumora_LoadMaskFile(self._handle, os.fsencode(path)),
                    "cannot load the mask file %s" % os.fspath(path))

    # -- triggered acquisition --------------------------------------------------------------
    @property
    def trigger(self) -> bool:
        """False (default): `stream` runs the camera freely at its frame rate. True: `stream`
        runs a trigger run, one frame per pulse on the camera's trigger input (fire_trigger on
        a simulated camera); it then waits for pulses without a time-out unless one is given.
        Set during a stream, the stream restarts in the new mode. `snap` is not triggered."""
        return self._trigger

    @trigger.setter
    def trigger(self, on: bool) -> None:
        self._live()
        self._trigger = bool(on)
        self._format_changed()

    def _simulator_index(self) -> Optional[int]:
        # The simulated camera with this camera's serial number; device numbers need not be
        # simulator indices (a camera replugged on a new port keeps its index).
        serial = self.serial.encode()
        text = ctypes.create_string_buffer(64)
        for index in range(int(self._lib.LumoraSim_GetCameraCount())):
            if self._lib.LumoraSim_GetSerialNumber(index, text, len(text)) == 1 and \
                    text.value == serial:
                return index
        return None

    def fire_trigger(self) -> bool:
        """The trigger pulse, for a simulated camera: True when the camera starts a frame; False
        when it is not waiting for one (no trigger run, or the last pulse's frame is still
        being exposed or read out). Error 11 for a real camera, whose trigger is its input."""
        self._live()
        index = self._simulator_index()
        if index is None:
            raise Error("only a simulated camera has a software trigger", 11)
        return bool(self._lib.LumoraSim_FireTrigger(index) == 1)

    # -- frames -----------------------------------------------------------------------------
    def _new_frame(self) -> Tuple[Any, Any]:
        """A fresh array for one frame, and the SDK's view of it (stride padded to 4 bytes)."""
        height, width = self.shape
        return self._new_frame_of(width, height, self.bit_depth)

    @staticmethod
    def _new_frame_of(width: int, height: int, bits: int) -> Tuple[Any, Any]:
        np = _numpy()
        if bits not in (8, 16):
            raise Error("colour mode %d bits is not a monochrome frame" % bits, 9)
        item = bits // 8
        stride = (width * item + 3) & ~3
        storage = np.empty((height, stride), dtype=np.uint8)
        frame = np.ndarray((height, width), dtype=np.uint8 if item == 1 else "<u2",
                           buffer=storage, strides=(stride, item))
        return frame, storage

    def snap(self) -> FrameArray:
        """One new frame, taken freely running (also when `trigger` is set): a numpy array
        (uint8 or uint16, shape (height, width)) with the frame's metadata in `.meta`."""
        self._live()
        self._end_stream()
        frame, storage = self._new_frame()
        self._check(self._lib.Lumora_SnapShot(self._handle, storage.ctypes.data, storage.nbytes, 1),
                    "no frame")
        meta = _FrameMeta()
        self._check(self._lib.LumoraHost_GetImageWithMeta(self._handle, storage.ctypes.data,
                                                          storage.nbytes, 1, ctypes.byref(meta)),
                    "cannot copy the frame")
        return Frame(frame, FrameMeta._from(meta))

    def save(self, path: Union[str, os.PathLike[str]], fmt: Optional[int] = None) -> None:
        """Saves the last frame: format from the extension (.bmp .raw .jpg .png .tif) or a code."""
        self._live()
        if fmt is None:
            formats = {".bmp": 0, ".raw": 1, ".jpg": 2, ".jpeg": 2, ".png": 5, ".tif": 6, ".tiff": 6}
            extension = os.path.splitext(os.fspath(path))[1].lower()
            if extension not in formats:
                raise Error("unknown file type %r" % extension, 9)
            fmt = formats[extension]
        self._check(self._lib.Lumora_SaveImage(self._handle, os.fsencode(path), fmt),
                    "cannot save %s" % os.fspath(path))

    def _end_stream(self) -> None:
        # A stream abandoned by its consumer (an exception in the loop body, a break without
        # closing) is still running until the generator is collected; end it before anything
        # else uses the camera.
        stream, self._stream = getattr(self, "_stream", None), None
        if stream is not None:
            stream.close()

    def stream(self, count: Optional[int] = None, seconds: Optional[float] = None,
               timeout: Optional[float] = None, every: bool = False,
               queue: int = 8) -> Iterator[FrameArray]:
        """Yields frames of a continuous run until `count` frames or `seconds` have passed
        (both None: until the consumer stops iterating). Each frame is a new array, copied once
        from the SDK's newest processed image. `timeout`: seconds without any frame, beyond the
        camera's own time for one (twice the exposure: a frame under way, then a new one), before
        Error 8 is raised; None is 5 s, and no limit in a trigger run (`trigger`), which
        waits for its pulses. The run ends when the generator is closed, when it is collected,
        or when the camera is used for anything that needs the run to end (`snap`, another
        `stream`, `close`).

        every=True: every frame the camera sends, in order, through `queue` buffers the SDK fills
        directly (no copy); a frame that finds all of them held is dropped, and the next frame's
        meta.dropped_before says how many were. Setting the window, the bit depth or the
        subsampling during a stream restarts its run with the new shape before the next frame.
        A trigger run delivers the newest frame; every=True is for free runs (Error 9)."""
        self._live()
        self._end_stream()
        if timeout is None and not self._trigger:
            timeout = 5.0
        if every:
            if not 1 <= int(queue) <= 256:
                raise Error("queue %r: allowed 1 to 256 buffers" % (queue,), 9)
            if self._trigger:
                raise Error("every=True needs a free run: the trigger paces a trigger run", 9)
            self._stream = self._run_queued(count, seconds, timeout, int(queue))
        else:
            self._stream = self._run_stream(count, seconds, timeout)
        return self._stream

    def _queued_buffers(self, queue: int) -> List[Tuple[Any, Any]]:
        # Fresh arrays for the SDK to fill; each one yielded is replaced, so a kept frame is
        # never written again.
        return [self._new_frame() for _ in range(queue)]

    def _run_queued(self, count: Optional[int], seconds: Optional[float],
                    timeout: Optional[float], queue: int) -> Generator[FrameArray, None, None]:
        # The body of stream(every=True); see there.
        self._live()
        self._yielded = 0
        assert timeout is not None
        timeout += 2.0 * self.exposure_s
        self._drain()
        running = False
        try:
            start = time.monotonic()
            last = start
            frame = _QueuedFrame()
            held: Dict[int, Tuple[Any, Any]] = {}
            while count is None or self._yielded < count:
                if not running or self._restart:
                    if running:
                        self._lib.Lumora_StopPreview(self._handle)
                        self._lib.Lumora_Close(self._handle)
                    self._restart = False
                    if self._trigger:
                        raise Error("every=True needs a free run: the trigger paces a trigger "
                                    "run", 9)
                    buffers = self._queued_buffers(queue)
                    held = {i: pair for i, pair in enumerate(buffers)}
                    pointers = (ctypes.c_void_p * queue)(*(s.ctypes.data for _, s in buffers))
                    self._check(self._lib.LumoraHost_StartQueuedPreview(
                        self._handle, queue, pointers, buffers[0][1].nbytes, 1),
                        "cannot start the stream")
                    running = True
                    last = time.monotonic()
                now = time.monotonic()
                if seconds is not None and now - start >= seconds:
                    return
                if now - last > timeout:
                    raise Error("no frame for %.1f s" % timeout, 8)
                got = self._lib.LumoraHost_WaitQueuedFrame(self._handle, 100, ctypes.byref(frame))
                if got == 0:
                    continue
                if got < 0:
                    code = self._lib.Lumora_GetLastError(self._handle)
                    raise Error("the stream ended", code if code else 13)
                array, storage = held[frame.index]
                # The frame stays with the consumer; a new array of the run's shape takes its
                # place in the queue.
                replacement = self._new_frame_of(frame.meta.width, frame.meta.height,
                                                 frame.bitsPerPixel)
                held[frame.index] = replacement
                self._check(self._lib.LumoraHost_ReleaseQueuedFrame(
                    self._handle, frame.index, replacement[1].ctypes.data),
                    "cannot give the buffer back")
                last = time.monotonic()
                self._yielded += 1
                yield Frame(array, FrameMeta._from(frame.meta, frame.droppedBefore))
        finally:
            if running:
                self._lib.Lumora_StopPreview(self._handle)
                self._lib.Lumora_Close(self._handle)

    def _start_run(self, frames: int) -> int:
        # A trigger run or a free run, by the trigger setting; 0 when it did not start.
        if self._trigger:
            return int(self._lib.Lumora_Trigger(self._handle, frames, None, 0, 1))
        return int(self._lib.Lumora_CallBackPreview(self._handle, frames, None, 0, 1))

    def _run_stream(self, count: Optional[int], seconds: Optional[float],
                    timeout: Optional[float]) -> Generator[FrameArray, None, None]:
        # The body of stream(); see there.
        self._live()
        self._yielded = 0
        if timeout is not None:
            timeout += 2.0 * self.exposure_s
        self._drain()
        frames = self._lib.LumoraHost_CreateQueueWindow()
        try:
            try:
                # Started inside the try: a Ctrl-C that arrives while the start is under way
                # still stops the run.
                self._check(self._start_run(frames), "cannot start the run")
                start = time.monotonic()
                last = start
                message = _Message()
                while count is None or self._yielded < count:
                    if self._restart:
                        # A new shape: the run is prepared afresh.
                        self._restart = False
                        self._lib.Lumora_StopPreview(self._handle)
                        self._lib.Lumora_Close(self._handle)
                        while self._lib.LumoraHost_WaitMessage(frames, 0, ctypes.byref(message)):
                            pass
                        self._check(self._start_run(frames), "cannot restart the run")
                        last = time.monotonic()
                    now = time.monotonic()
                    if seconds is not None and now - start >= seconds:
                        return
                    if timeout is not None and now - last > timeout:
                        raise Error("no frame for %.1f s" % timeout, 8)
                    # Short waits: the lock is released inside, and Ctrl-C is seen between them.
                    if not self._lib.LumoraHost_WaitMessage(frames, 100, ctypes.byref(message)):
                        continue
                    if message.message != _MSG_FRAME:
                        continue
                    if message.wParam == 0:
                        if message.lParam == 13:
                            raise Error("the camera was lost", 13)
                        continue
                    # Only the newest frame is worth copying; older notices are counted.
                    lost = False
                    while self._lib.LumoraHost_WaitMessage(frames, 0, ctypes.byref(message)):
                        if message.message != _MSG_FRAME:
                            continue
                        if message.wParam == 0:
                            lost = lost or message.lParam == 13
                    if lost:
                        raise Error("the camera was lost", 13)
                    frame, storage = self._new_frame()
                    meta = _FrameMeta()
                    self._check(self._lib.LumoraHost_GetImageWithMeta(
                        self._handle, storage.ctypes.data, storage.nbytes, 1, ctypes.byref(meta)),
                        "cannot copy the frame")
                    last = time.monotonic()
                    self._yielded += 1
                    yield Frame(frame, FrameMeta._from(meta))
            finally:
                self._lib.Lumora_StopPreview(self._handle)
                self._lib.Lumora_Close(self._handle)
        finally:
            self._lib.LumoraHost_DestroyWindow(frames)

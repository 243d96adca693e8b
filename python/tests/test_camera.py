"""The Python binding on simulated cameras: values round-trip through the SDK, frames arrive as
arrays of the right type and shape, errors carry the SDK's codes."""
import ctypes
import os
import shutil
import signal
import subprocess
import sys
import tempfile
import threading
import time

import numpy as np
import pytest

import lumora


@pytest.fixture(autouse=True)
def private_settings(monkeypatch, tmp_path):
    monkeypatch.setenv("LUMORA_CONFIG_HOME", str(tmp_path / "config"))


@pytest.fixture
def cam():
    with lumora.Camera(sim=1) as camera:
        yield camera


def test_snap_returns_arrays_of_the_chosen_depth_and_window(cam):
    cam.bit_depth = 8
    frame = cam.snap()
    assert frame.dtype == np.uint8 and frame.shape == (2048, 2560)
    cam.bit_depth = 16
    cam.window = (96, 200, 648, 480)
    frame = cam.snap()
    assert frame.dtype == np.uint16 and frame.shape == (480, 648)
    assert cam.window == (96, 200, 648, 480)
    # 12-bit samples in 16-bit words: nothing above 4095, and a real picture, not a constant.
    assert frame.max() <= 4095 and frame.std() > 10


def test_snapped_arrays_stay_valid_after_later_frames(cam):
    cam.bit_depth = 8
    first = cam.snap()
    kept = first.copy()
    for _ in range(3):
        cam.snap()
    assert np.array_equal(first, kept)


def test_first_snap_after_a_change_to_a_long_exposure(cam):
    # The frame under way, then the whole new exposure and its readout: the snapshot waits for
    # the camera's own time, not a fixed time-out.
    cam.bit_depth = 16
    cam.exposure_ms = 1990
    frame = cam.snap()
    assert frame.shape == (2048, 2560) and frame.max() > 0


def test_settings_round_trip(cam):
    cam.exposure_ms = 12.5
    assert cam.exposure_ms == pytest.approx(12.5, rel=1e-3)
    cam.exposure_s = 0.004
    assert cam.exposure_s == pytest.approx(0.004, rel=1e-3)
    cam.gain = 120
    assert cam.gain == 120
    cam.black_level = 300
    assert cam.black_level == 300
    cam.mirror_h, cam.mirror_v = True, False
    assert (cam.mirror_h, cam.mirror_v) == (True, False)
    cam.cooler = True
    assert cam.cooler is True
    assert -60.0 < cam.temperature < 80.0
    assert cam.serial == "LUM00001"
    assert cam.info["maxWidth"] == 2560


def test_refused_values_raise_with_the_sdk_code(cam):
    with pytest.raises(lumora.Error) as error:
        cam.gain = 100000
    assert error.value.code != 0 and error.value.meaning
    with pytest.raises(lumora.Error) as error:
        cam.window = (2500, 0, 640, 480)
    assert error.value.code == 7
    with pytest.raises(lumora.Error):
        cam.bit_depth = 24


def test_stream_yields_the_requested_number_of_distinct_frames(cam):
    cam.bit_depth = 8
    cam.window = (0, 0, 640, 480)
    frames = list(cam.stream(count=5))
    assert len(frames) == 5
    assert all(f.shape == (480, 640) and f.dtype == np.uint8 for f in frames)
    # The simulated scene moves: a kept array is its own frame, not a view of a reused buffer.
    assert any(not np.array_equal(frames[0], f) for f in frames[1:])
    assert cam.stream_stats["frames"] == 5
    # The run has ended: a snapshot works again.
    assert cam.snap().shape == (480, 640)


def test_stream_time_out_counts_from_beyond_the_cameras_own_time(cam):
    # The first frame after a change to a long exposure is the frame under way plus a new one
    # away; a time-out shorter than that is still the host's allowance beyond it.
    cam.window = (0, 0, 320, 240)
    cam.exposure_s = 1.5
    frames = list(cam.stream(count=1, timeout=0.5))
    assert len(frames) == 1


def test_stream_stops_when_the_consumer_breaks_off(cam):
    cam.window = (0, 0, 320, 240)
    for index, _ in enumerate(cam.stream()):
        if index == 2:
            break
    assert cam.snap().shape == (240, 320)


def test_unplug_during_stream_raises_device_lost(cam):
    cam.window = (0, 0, 320, 240)
    lib = lumora.library()
    with pytest.raises(lumora.Error) as error:
        for index, _ in enumerate(cam.stream(timeout=10)):
            if index == 1:
                lib.LumoraSim_Unplug(0)
    assert error.value.code in (8, 13)
    lib.LumoraSim_Replug(0)


def test_ctrl_c_interrupts_a_stream_waiting_for_frames(cam):
    cam.exposure_s = 0.25  # the interrupt lands while the stream waits for frames
    cam.window = (0, 0, 320, 240)
    timer = threading.Timer(0.3, lambda: os.kill(os.getpid(), signal.SIGINT))
    timer.start()
    with pytest.raises(KeyboardInterrupt):
        for _ in cam.stream(count=100, timeout=30):
            pass
    timer.cancel()
    assert cam.snap() is not None


def test_save_writes_the_last_frame(cam, tmp_path):
    cam.snap()
    path = tmp_path / "frame.png"
    cam.save(str(path))
    assert path.read_bytes()[:8] == b"\x89PNG\r\n\x1a\n"
    with pytest.raises(lumora.Error):
        cam.save(str(tmp_path / "frame.xyz"))


def test_closed_camera_raises_instead_of_crashing():
    camera = lumora.Camera(sim=1)
    camera.close()
    with pytest.raises(lumora.Error):
        camera.snap()
    camera.close()  # twice is harmless


def test_device_count_and_missing_camera():
    assert lumora.device_count(sim=2) == 2
    with pytest.raises(lumora.Error) as error:
        lumora.Camera(sim=0)
    assert error.value.code == 2


def _between(earlier, later):
    # Frames between two readings of the camera's eight-bit frame counter.
    return (later - earlier - 1) & 0xFF


def test_frames_carry_the_settings_they_were_taken_with(cam):
    cam.bit_depth = 8
    cam.window = (64, 32, 320, 240)
    cam.exposure_s = 0.010
    first = cam.snap()
    assert first.meta.exposure_s == pytest.approx(0.010, abs=1e-4)
    assert first.meta.window == (64, 32, 320, 240)
    assert first.meta.bit_depth == 8
    assert abs(first.meta.arrival_wall_ns - time.time_ns()) < 60 * 10**9
    cam.exposure_s = 0.020
    cam.gain = cam.gain + 1
    second = cam.snap()
    assert second.meta.exposure_s == pytest.approx(0.020, abs=1e-4)
    assert second.meta.gain == cam.gain
    assert second.meta.arrival_ns > first.meta.arrival_ns
    # A view of a frame keeps its metadata.
    assert second[:10].meta is second.meta


def test_every_frame_stream_accounts_for_every_frame_and_agrees_with_the_sdk(cam):
    cam.bit_depth = 8
    cam.window = (0, 0, 320, 240)
    frames = list(cam.stream(count=40, every=True, queue=8))
    assert len(frames) == 40
    assert all(f.shape == (240, 320) and f.dtype == np.uint8 for f in frames)
    for earlier, later in zip(frames, frames[1:]):
        assert _between(earlier.meta.frame_counter, later.meta.frame_counter) == \
            later.meta.skipped_before & 0xFF
        assert later.meta.arrival_ns > earlier.meta.arrival_ns
    # Each kept frame is its own array: the queue's buffers were replaced, never reused.
    assert len({f.ctypes.data for f in frames}) == 40
    stats = cam.stream_stats
    sdk = lumora._StreamStats()
    assert lumora.library().LumoraHost_GetStreamStats(cam.handle, ctypes.byref(sdk)) == 1
    assert (stats["sent"], stats["delivered"], stats["skipped"], stats["failed"]) == \
        (sdk.framesSent, sdk.framesDelivered, sdk.framesSkipped, sdk.framesFailed)
    assert stats["frames"] == 40
    assert stats["delivered"] >= 40
    assert stats["sent"] == stats["delivered"] + stats["skipped"] + stats["failed"]
    assert sum(f.meta.skipped_before for f in frames[1:]) <= stats["skipped"]


@pytest.mark.parametrize("every", [False, True])
def test_window_depth_and_subsampling_change_during_a_stream(cam, every):
    cam.bit_depth = 8
    cam.window = (0, 0, 320, 240)
    shapes = []
    for index, frame in enumerate(cam.stream(count=9, every=every)):
        shapes.append((frame.shape, frame.dtype))
        if index == 2:
            cam.window = (0, 0, 640, 480)
        elif index == 5:
            cam.bit_depth = 16
    assert shapes[:3] == [((240, 320), np.uint8)] * 3
    assert shapes[3:6] == [((480, 640), np.uint8)] * 3
    assert shapes[6:] == [((480, 640), np.dtype("<u2"))] * 3


def test_pip_installs_the_package_into_a_fresh_virtual_environment(tmp_path):
    # A copy: building writes into the source folder.
    source = str(tmp_path / "source")
    here = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
    shutil.copytree(here, source, ignore=shutil.ignore_patterns("tests", "__pycache__", "build",
                                                                 "*.egg-info"))
    venv = tmp_path / "venv"
    subprocess.run([sys.executable, "-m", "venv", "--system-site-packages", str(venv)],
                   check=True)
    python = str(venv / "bin" / "python")
    # Offline: the build backend comes from the system, not from an index.
    subprocess.run([python, "-m", "pip", "install", "--quiet", "--no-index",
                    "--no-build-isolation", "--no-deps", source], check=True,
                   cwd=str(tmp_path))
    script = ("import lumora, sys\n"
              "assert lumora.__file__.startswith(sys.prefix), lumora.__file__\n"
              "with lumora.Camera(sim=1) as cam:\n"
              "    cam.window = (0, 0, 320, 240)\n"
              "    frame = cam.snap()\n"
              "    print(frame.shape, frame.meta.frame_counter)\n")
    environment = dict(os.environ)
    environment.pop("PYTHONPATH", None)
    result = subprocess.run([python, "-c", script], check=True, cwd=str(tmp_path),
                            env=environment, capture_output=True, text=True)
    assert result.stdout.startswith("(240, 320) ")


def test_list_shows_serial_numbers_and_a_camera_opens_by_its_serial():
    cameras = lumora.Camera.list(sim=3)
    assert [c["serial"] for c in cameras] == ["LUM00001", "LUM00002", "LUM00003"]
    with lumora.Camera(serial="LUM00002") as cam:
        assert cam.serial == "LUM00002"
    with pytest.raises(lumora.Error) as error:
        lumora.Camera(serial="LUM09999")
    assert error.value.code == 2
    lumora.library().LumoraSim_SetCameraCount(1)


@pytest.fixture
def static_scene():
    # Nothing moves and there is no temporal noise: two frames with the same settings are equal.
    lib = lumora.library()
    lib.LumoraSim_SetStaticScene(1)
    yield
    lib.LumoraSim_SetStaticScene(0)


class Pulses:
    """Fires a simulated camera's software trigger every 20 ms on a thread of its own while in
    the `with` block. A pulse the camera is not ready for (no trigger run yet, the last frame
    still under way) is refused; `fired` counts those it took."""

    def __init__(self, cam):
        self.cam = cam
        self.fired = 0
        self.stop = threading.Event()
        self.thread = threading.Thread(target=self._run)

    def _run(self):
        while not self.stop.is_set():
            if self.cam.fire_trigger():
                self.fired += 1
            self.stop.wait(0.02)

    def __enter__(self):
        self.thread.start()
        return self

    def __exit__(self, *exc):
        self.stop.set()
        self.thread.join()


def test_a_trigger_run_delivers_frames_on_software_triggers_only(cam):
    cam.bit_depth = 8
    cam.window = (0, 0, 320, 240)
    assert cam.fire_trigger() is False  # no trigger run to take it
    cam.trigger = True
    # No pulse, no frame: a trigger run given a time-out runs out of it.
    with pytest.raises(lumora.Error) as error:
        next(cam.stream(count=1, timeout=0.5))
    assert error.value.code == 8
    with pytest.raises(lumora.Error) as error:
        cam.stream(every=True)
    assert error.value.code == 9
    with Pulses(cam) as pulses:
        frames = list(cam.stream(count=3))
    assert len(frames) == 3 and pulses.fired >= 3
    assert all(f.shape == (240, 320) for f in frames)
    assert len({f.meta.frame_counter for f in frames}) == 3
    # Back to a free run: frames come without pulses.
    cam.trigger = False
    assert len(list(cam.stream(count=2))) == 2


def test_switching_to_a_trigger_run_during_a_stream_restarts_it(cam):
    cam.window = (0, 0, 320, 240)
    stream = cam.stream(count=2, timeout=10)
    next(stream)
    cam.trigger = True
    with Pulses(cam) as pulses:
        assert next(stream).shape == (240, 320)
    assert pulses.fired >= 1
    stream.close()


def test_filters_are_properties_that_change_the_next_frame(cam, static_scene):
    cam.bit_depth = 8
    cam.window = (0, 0, 320, 240)
    plain = cam.snap()
    assert np.array_equal(plain, cam.snap())  # the static scene repeats exactly
    assert cam.gamma == 1.0
    cam.gamma = 2.0
    assert cam.gamma == 2.0
    assert cam.snap().mean() > plain.mean() + 5
    cam.gamma = 0.5
    assert cam.gamma == 0.5
    assert cam.snap().mean() < plain.mean() - 5
    cam.gamma = 1.0
    cam.contrast = 60
    stretched = cam.snap()
    assert stretched.std() > plain.std()
    cam.contrast = 0
    cam.sharpness = 20
    assert cam.sharpness == 20
    assert not np.array_equal(cam.snap(), plain)
    cam.sharpness = 0
    assert np.array_equal(cam.snap(), plain)
    for name, value in [("brightness", -40), ("gray_mode", 1), ("gray_gain_r", 200),
                        ("gray_offset_b", -20), ("dot_filter", True), ("flat_field", True),
                        ("gain_mode", 1)]:
        setattr(cam, name, value)
        assert getattr(cam, name) == value, name
    # Out of range: refused with the SDK's code, the value kept.
    for name, value in [("sharpness", 31), ("gamma", 2.5), ("contrast", -128), ("gray_mode", 3)]:
        before = getattr(cam, name)
        with pytest.raises(lumora.Error) as error:
            setattr(cam, name, value)
        assert error.value.code == 9 and name in str(error.value)
        assert getattr(cam, name) == before
    for name in ["gamma", "contrast", "sharpness", "brightness", "gray_mode", "dot_filter",
                 "flat_field", "trigger", "frame_period"]:
        assert getattr(lumora.Camera, name).__doc__, name


def test_flat_field_references_survive_a_mask_file(cam, static_scene, tmp_path):
    cam.bit_depth = 8
    cam.window = (0, 0, 320, 240)
    with pytest.raises(lumora.Error) as error:
        cam.capture_reference("bright")  # a window frame would be silently ignored
    assert error.value.code == 7
    with pytest.raises(lumora.Error) as error:
        cam.capture_reference("grey")
    assert error.value.code == 9
    cam.window = (0, 0, 2560, 2048)
    cam.exposure_ms = 5
    bright = cam.capture_reference("bright")
    assert bright.shape == (2048, 2560)
    cam.flat_field = True
    # The scene is its own bright reference (the dark one still all 0): it comes out flat.
    flat = cam.snap()
    assert np.median(flat) == 255 and (flat >= 250).mean() > 0.95
    path = tmp_path / "scene.mask"
    cam.save_mask(path)
    # Another bright reference changes the correction; the saved one brings it back.
    cam.exposure_ms = 10
    cam.capture_reference("bright")
    cam.exposure_ms = 5
    assert not np.array_equal(cam.snap(), flat)
    cam.load_mask(path)
    assert np.array_equal(cam.snap(), flat)
    with pytest.raises(lumora.Error) as error:
        cam.load_mask(tmp_path / "missing.mask")
    assert error.value.code == 14


def test_frame_period_follows_the_exposure(cam):
    cam.bit_depth = 8
    cam.window = (0, 0, 320, 240)
    cam.exposure_ms = 1
    short = cam.frame_period
    assert 0 < short < 0.015
    cam.exposure_ms = 200
    assert 0.2 <= cam.frame_period < 0.2 + short


def test_the_package_type_checks_strictly(tmp_path):
    mypy = pytest.importorskip("mypy.api")
    package = os.path.join(os.path.dirname(os.path.dirname(os.path.abspath(__file__))), "lumora")
    out, err, status = mypy.run(["--strict", "--cache-dir", str(tmp_path), package])
    assert status == 0, out + err

"""The Python binding on simulated cameras: values round-trip through the SDK, frames arrive as
arrays of the right type and shape, errors carry the SDK's codes."""
import os
import signal
import tempfile
import threading

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

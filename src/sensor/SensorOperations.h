#pragma once
// The sensor interface's operations in table order (after the destructor), one row each, with
// what the base does. CSensorBase declares its virtual operations from this table and defines
// every body that is not its own from it, so the order, the signatures and the defaults are
// written once. A row is one of:
//
//   FIXED(name, parameters, result)   returns `result` and does nothing else ("not implemented"
//                                     where result is 0)
//   RANGE(name, value, supported)     under the operation lock writes the SensorInfo field
//                                     `value` through the out pointer (int*), returns `supported`
//   SECONDS(name, value, supported)   the same with a double
//   WORD(name, field)                 under the operation lock returns the SensorInfo field
//   OWN(name, parameters)             written out in CSensorBase.cpp
#define LUMORA_SENSOR_OPERATIONS(FIXED, RANGE, SECONDS, WORD, OWN)                       \
    OWN(SetTypeCode, (int code))                                                         \
    OWN(SetTriggerModeValue, (int word))                                                 \
    OWN(GetTriggerModeValue, ())                                                         \
    FIXED(ProbeSensor, (), 0)                                                            \
    FIXED(InitializeSensor, (), 0)                                                       \
    FIXED(VerifyModelText, (), 0)                                                        \
    FIXED(SetFpgaControlBit, (int on), 0)                                                \
    FIXED(SetReadoutWindow, (int x, int width, int y, int height, int mode), 0)          \
    OWN(GetReadoutWindow, (int* x, int* width, int* y, int* height, int* mode))          \
    FIXED(SetTriggerMode, (int mode), 0)                                                 \
    OWN(GetTriggerMode, (int* mode))                                                     \
    FIXED(StoreOptionWord, (int word), 0)                                                \
    FIXED(HasOptionWord, (), 0)                                                          \
    FIXED(CheckFpgaVersion, (), 0)                                                       \
    FIXED(SetHighBitDepth, (int flag), 0)                                                \
    FIXED(SetExposureLines, (uint32_t lines), 0)                                         \
    RANGE(GetExposureLines, exposureLines.current, exposureLines.supported)              \
    FIXED(SetGain, (int gain), 0)                                                        \
    RANGE(GetGain, gain.current, gain.supported)                                         \
    FIXED(SetRedGain, (int gain), 0)                                                     \
    RANGE(GetRedGain, redGain.current, redGain.supported)                                \
    FIXED(SetGreen1Gain, (int gain), 0)                                                  \
    RANGE(GetGreen1Gain, green1Gain.current, green1Gain.supported)                       \
    FIXED(SetGreen2Gain, (int gain), 0)                                                  \
    RANGE(GetGreen2Gain, green2Gain.current, green2Gain.supported)                       \
    FIXED(SetBlueGain, (int gain), 0)                                                    \
    RANGE(GetBlueGain, blueGain.current, blueGain.supported)                             \
    RANGE(GetExposureLinesMin, exposureLines.min, exposureLines.supported)               \
    RANGE(GetExposureLinesMax, exposureLines.max, exposureLines.supported)               \
    RANGE(GetExposureLinesDefault, exposureLines.defaultValue, exposureLines.supported)  \
    RANGE(GetGainMin, gain.min, gain.supported)                                          \
    RANGE(GetGainMax, gain.max, gain.supported)                                          \
    RANGE(GetGainDefault, gain.defaultValue, gain.supported)                             \
    /* The colour gains share one range; the red group carries it. */                    \
    RANGE(GetColorGainMin, redGain.min, redGain.supported)                               \
    RANGE(GetColorGainMax, redGain.max, redGain.supported)                               \
    RANGE(GetColorGainDefault, redGain.defaultValue, redGain.supported)                  \
    FIXED(SetTapGain, (int tap, int value), 0)                                           \
    FIXED(GetTapGain, (int tap, int* value), 0)                                          \
    FIXED(GetTapGainMin, (int* value), 0)                                                \
    FIXED(GetTapGainMax, (int* value), 0)                                                \
    FIXED(GetTapGainDefault, (int* value), 0)                                            \
    FIXED(SetTapOffset, (int tap, int value), 0)                                         \
    FIXED(GetTapOffset, (int tap, int* value), 0)                                        \
    FIXED(GetTapOffsetMin, (int* value), 0)                                              \
    FIXED(GetTapOffsetMax, (int* value), 0)                                              \
    FIXED(GetTapOffsetDefault, (int* value), 0)                                          \
    WORD(IsBlackLevelSupported, blackLevel.supported)                                    \
    FIXED(SetBlackLevel, (int level), 0)                                                 \
    RANGE(GetBlackLevel, blackLevel.current, blackLevel.supported)                       \
    RANGE(GetBlackLevelMin, blackLevel.min, blackLevel.supported)                        \
    RANGE(GetBlackLevelMax, blackLevel.max, blackLevel.supported)                        \
    RANGE(GetBlackLevelDefault, blackLevel.defaultValue, blackLevel.supported)           \
    WORD(IsSensorModeSupported, sensorModeSupported)                                     \
    FIXED(SetSensorMode, (int mode), 0)                                                  \
    RANGE(GetSensorMode, sensorMode, sensorModeSupported)                                \
    WORD(IsLevelPairSupported, levelPairSupported)                                       \
    RANGE(GetLevelPairMin, levelPairMin, levelPairSupported)                             \
    RANGE(GetLevelPairMax, levelPairMax, levelPairSupported)                             \
    RANGE(GetLevelADefault, levelADefault, levelPairSupported)                           \
    RANGE(GetLevelBDefault, levelBDefault, levelPairSupported)                           \
    RANGE(GetLevelA, levelA, levelPairSupported)                                         \
    RANGE(GetLevelB, levelB, levelPairSupported)                                         \
    FIXED(SetLevelA, (int value), 0)                                                     \
    FIXED(SetLevelB, (int value), 0)                                                     \
    FIXED(ReadLevelA, (int* value), 0)                                                   \
    FIXED(ReadLevelB, (int* value), 0)                                                   \
    FIXED(GetLevelLabel, (int index, char* text, int length), 0)                         \
    FIXED(SetExposureTime, (int tenthsOfMs), 0)                                          \
    RANGE(GetExposureTime, exposureTime.current, exposureTime.supported)                 \
    RANGE(GetExposureTimeMin, exposureTime.min, exposureTime.supported)                  \
    RANGE(GetExposureTimeMax, exposureTime.max, exposureTime.supported)                  \
    RANGE(GetExposureTimeDefault, exposureTime.defaultValue, exposureTime.supported)     \
    FIXED(SetMirrorV, (int on), 0)                                                       \
    RANGE(GetMirrorV, mirrorV, mirrorVSupported)                                         \
    FIXED(SetMirrorH, (int on), 0)                                                       \
    RANGE(GetMirrorH, mirrorH, mirrorHSupported)                                         \
    WORD(GetMirrorVDefault, mirrorVDefault)                                              \
    WORD(GetMirrorHDefault, mirrorHDefault)                                              \
    WORD(IsMirrorVSupported, mirrorVSupported)                                           \
    WORD(IsMirrorHSupported, mirrorHSupported)                                           \
    FIXED(VariantCapabilityFlag, (int value, int* rate), 0)                              \
    FIXED(WriteRegister, (int reg, int value), 0)                                        \
    FIXED(ReadRegister, (int reg, int* value), 0)                                        \
    FIXED(WriteRegisterLocked, (int reg, int value), 0)                                  \
    FIXED(ReadRegisterLocked, (int reg, int* value), 0)                                  \
    FIXED(SetVariantOption, (int value), 0)                                              \
    FIXED(GetVariantOption, (int* value), 0)                                             \
    FIXED(Reserved1, (), 0)                                                              \
    FIXED(Reserved2, (), 0)                                                              \
    FIXED(Reserved3, (), 0)                                                              \
    FIXED(Reserved4, (), 0)                                                              \
    FIXED(SetClockMode, (int mode), 0)                                                   \
    FIXED(GetClockMode, (int* value, int first, int second), 0)                          \
    FIXED(Reserved5, (), 0)                                                              \
    FIXED(Reserved6, (), 0)                                                              \
    OWN(GetSensorInfo, (SensorInfo * info))                                              \
    FIXED(RestartStreaming, (), 0)                                                       \
    FIXED(SignalAuxDevice, (), 0)                                                        \
    FIXED(IsInternalCorrectionAvailable, (), 0)                                          \
    FIXED(SetInternalCorrection, (int level), 0)                                         \
    FIXED(GetInternalCorrection, (int* level), 0)                                        \
    FIXED(HasCooler, (), 0)                                                              \
    FIXED(IsCoolerOn, (), 0)                                                             \
    FIXED(SetCoolerOn, (int on), 0)                                                      \
    FIXED(HasTemperatureSensor, (), 0)                                                   \
    FIXED(GetSensorTemperature, (double* degrees), 0)                                    \
    FIXED(RunCalibration, (), 0)                                                         \
    FIXED(StartSensorThread, (), 0)                                                      \
    FIXED(StopSensorThread, (int wait), 0)                                               \
    FIXED(IsSensorThreadRunning, (), 0)                                                  \
    FIXED(SetCalibrationEnabled, (int on), 0)                                            \
    FIXED(HasOutputSwitch, (), 0)                                                        \
    FIXED(GetOutputSwitch, (int* value), 0)                                              \
    FIXED(SetOutputSwitch, (int value), 0)                                               \
    FIXED(ReadSerialText, (char* text, int length), 0)                                   \
    FIXED(WriteSerialText, (const char* text, int length), 0)                            \
    FIXED(CheckFpgaFeature, (), 0)                                                       \
    FIXED(DetectAuxBoard, (), 0)                                                         \
    FIXED(SetAuxBoardMode, (int mode), 0)                                                \
    FIXED(HasDetectorTemperature, (), 0)                                                 \
    FIXED(Reserved7, (), 0)                                                              \
    FIXED(Reserved8, (), 0)                                                              \
    FIXED(GetDetectorTemperature, (double* degrees), 0)                                  \
    FIXED(SetDetectorTemperature, (double degrees), 0)                                   \
    WORD(IsExposureSecondsSupported, exposureSecondsSupported)                           \
    SECONDS(GetExposureSecondsMin, exposureSecondsMin, exposureSecondsSupported)         \
    SECONDS(GetExposureSecondsMax, exposureSecondsMax, exposureSecondsSupported)         \
    SECONDS(GetExposureSecondsDefault, exposureSecondsDefault, exposureSecondsSupported) \
    SECONDS(GetExposureSeconds, exposureSeconds, exposureSecondsSupported)               \
    FIXED(SetExposureSeconds, (double seconds), 0)                                       \
    FIXED(HasResponseMode, (), 0)                                                        \
    FIXED(GetResponseMode, (int* mode), 0)                                               \
    FIXED(SetResponseMode, (int mode), 0)                                                \
    FIXED(CheckCorrectionState, (), 0)                                                   \
    FIXED(GetCorrectionInfo, (int* value), 0)                                            \
    FIXED(IsStreamReady, (), 0)                                                          \
    FIXED(GetControlFlag, (), -1) /* unknown */                                          \
    FIXED(SetControlFlag, (int flag), 0)                                                 \
    FIXED(HasGainStage, (), 0)                                                           \
    FIXED(GetGainStage, (), -1) /* unknown */                                            \
    FIXED(SetGainStage, (int stage), 0)                                                  \
    /* The driver core asks these when the output colour format is chosen. */            \
    FIXED(SupportsOutputFormatA, (), 1)                                                  \
    FIXED(SupportsOutputFormatB, (), 1)                                                  \
    FIXED(SupportsOutputFormatC, (), 1)                                                  \
    FIXED(GetAuxStatus, (int* value), 0)                                                 \
    FIXED(SetAuxStatus, (int value), 0)                                                  \
    FIXED(ResetAuxBoard, (), 0)                                                          \
    FIXED(PollAuxBoard, (), 0)                                                           \
    FIXED(ReadAuxBoardInfo, (uint8_t * data, int length), 0)                             \
    FIXED(RestartAuxBoard, (), 0)                                                        \
    FIXED(GetReadoutKind, (), 0)                                                         \
    /* How long, from now, the sensor may take to finish its first whole frame in free run: \
       the frame under way and one frame at the current timing with its readout; 0 when the \
       sensor cannot tell. */                                                           \
    FIXED(GetFirstFrameWithin, (uint32_t * milliseconds), 0)                             \
    /* The time from the start of one frame to the next in free run at the timing written \
       now (frame length x line time); 0 when the sensor cannot tell. */                 \
    FIXED(GetFramePeriod, (double* microseconds), 0)

// lumora snap: one frame, saved in every file named (the format from each name's extension).
#include <cstdio>
#include <string>
#include <vector>

#include "Command.h"
#include "StretchedFile.h"

namespace lumora_cli {
namespace {

int Snap(const Options& options, const CaptureOptions& snap) {
    // The files first: a name the command cannot write is reported before the camera is touched.
    std::vector<int> formats;
    for (const auto& path : snap.outputs) formats.push_back(FormatFor(path));
    for (const auto& path : snap.outputs) CheckWritable(path);

    Camera camera(options);
    const int h = camera.Handle();
    ApplyCaptureSettings(camera, snap);
    const FrameSize size = CurrentFrameSize(h);
    if (snap.scale && size.bits != 16) {
        throw UsageError{"--scale stretches the 12 bits of a 16-bit frame to 16; this frame has " +
                         std::to_string(size.bits) + " bits (add -b 16)"};
    }
    for (size_t i = 0; i < formats.size(); ++i) {
        if (size.bits == 16 && formats[i] == kFormatBmp) {
            std::fprintf(stderr,
                         "lumora: note: %s holds 16-bit gray samples of 12 bits, which most "
                         "programs read as 5-bit colours; .png or .tif keep 16 bits for them\n",
                         snap.outputs[i].c_str());
        }
    }
    camera.Check(Lumora_Capture(h), "cannot prepare the capture");
    std::vector<unsigned char> frame(snap.scale ? size.Bytes() : 0);
    camera.Check(Lumora_SnapShot(h, frame.empty() ? nullptr : frame.data(),
                                 static_cast<int>(frame.size()), 1),
                 "no frame");
    for (size_t i = 0; i < snap.outputs.size(); ++i) {
        const std::string& path = snap.outputs[i];
        if (snap.scale && WritesStretched(formats[i])) {
            WriteStretchedFrame(path, formats[i], frame.data(), size);
        } else {
            camera.Check(Lumora_SaveImage(h, path.c_str(), formats[i]), "cannot write " + path);
        }
        std::printf("%s\n", path.c_str());
    }
    Lumora_Close(h);
    return 0;
}

}  // namespace

CommandEntry AddSnapCommand(CLI::App& app, CommandContext& context) {
    auto* command = app.add_subcommand("snap", "take one frame and save it");
    context.addCaptureOptions(command);
    CaptureOptions& capture = context.capture;
    command->add_option("files", capture.outputs, "files to write (.bmp .raw .jpg .png .tif)")
        ->required();
    command->add_flag("--scale", capture.scale,
                      "16 bits: stretch the sensor's 12 bits to the full 16 in .png .tif .raw, "
                      "for viewing (PNG marks them with sBIT)");
    Options& options = context.options;
    return {command, [&options, &capture] { return Snap(options, capture); }};
}

}  // namespace lumora_cli

// `lumora dialog camera|image|analog`: opens one settings dialog on a camera so a user can try
// it, then prints what the session holds afterwards.
#include <cstdio>
#include <string>

#include "Command.h"

namespace lumora_cli {
namespace {

struct DialogOptions {
    std::string which;
    bool preview = false;
};

void PrintSettings(int h) {
    int valid = 0;
    std::printf("brightness %d, contrast %d, gamma %d, gain %d, exposure %d (0.1 ms)\n",
                Lumora_GetFilterValue(h, 1, &valid), Lumora_GetFilterValue(h, 2, &valid),
                Lumora_GetFilterValue(h, 11, &valid), Lumora_GetFilterValue(h, 13, &valid),
                Lumora_GetFilterValue(h, 18, &valid));
    int ht = 0, hs = 0, he = 0, vt = 0, vs = 0, ve = 0;
    Lumora_GetCaptureWindowEx(h, &ht, &hs, &he, &vt, &vs, &ve);
    std::printf("capture window %d x %d at (%d, %d), %d bits\n", he, ve, hs, vs,
                Lumora_GetColorMode(h));
}

int Run(const Options& options, const DialogOptions& dialog) {
    Camera camera(options);
    const int h = camera.Handle();
    if (dialog.preview) camera.Check(Lumora_StartPreview(h), "cannot start the preview");
    int result = 0;
    if (dialog.which == "camera") {
        result = Lumora_SetCameraDlg(h, nullptr);
    } else if (dialog.which == "image") {
        result = Lumora_SetImageDlg(h, nullptr);
    } else {
        result = Lumora_SetAnalogDlg(h, nullptr);
    }
    if (dialog.preview) Lumora_StopPreview(h);
    camera.Check(result, "cannot show the " + dialog.which + " dialog");
    PrintSettings(h);
    return 0;
}

}  // namespace

CommandEntry AddDialogCommand(CLI::App& app, CommandContext& context) {
    static DialogOptions dialog;
    auto* command = app.add_subcommand(
        "dialog", "open the camera, image or analog settings dialog (needs a display)");
    command->add_option("which", dialog.which, "camera, image or analog")
        ->required()
        ->check(CLI::IsMember({"camera", "image", "analog"}));
    command->add_flag("--preview", dialog.preview, "keep a preview running meanwhile");
    Options& options = context.options;
    return {command, [&options] { return Run(options, dialog); }};
}

}  // namespace lumora_cli

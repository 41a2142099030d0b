#include "cli/commands.h"
#include "imaging/picture_registry.h"

#include <cstdio>
#include <cstring>

static int usage()
{
    std::fputs("usage: quarnix-tool COMMAND ...\n"
               "  list ARCHIVE                 list the entries of a .dir archive or a .txd\n"
               "  sample DIR                   write sample.dir, sample.img and sample.txd into DIR\n"
               "  convert PICTURE OUT.tga [--size WxH] [--format rgb24|color256]\n"
               "                               load a picture, resample and reduce it as an import would\n",
               stderr);
    return 2;
}

int main(int argc, char** argv)
{
    // Every picture format, including those the app registers only when its
    // import preview dialog is created.
    InitImageLibrary();
    RegisterImportPreviewFormats();
    if (argc < 2)
        return usage();
    const std::vector<std::string> args(argv + 2, argv + argc);
    const std::string cmd = argv[1];
    if (cmd == "list")
        return cmdList(args);
    if (cmd == "sample")
        return cmdSample(args);
    if (cmd == "convert")
        return cmdConvert(args);
    std::fprintf(stderr, "quarnix-tool: unknown command '%s'\n", cmd.c_str());
    return usage();
}

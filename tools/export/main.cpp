// scanstation-export: a scan's .img (or .raw) and .inf as a 16-bit greyscale TIFF, or the
// ImageJ macro line that opens the image file itself. See scanexport.h.
#include "scanexport.h"

#include <iostream>

int main(int argc, char *argv[])
{
    RemoveTemporaryFileOnSignals();
    return ExportCommand(std::vector<std::string>(argv + 1, argv + argc), std::cout, std::cerr);
}

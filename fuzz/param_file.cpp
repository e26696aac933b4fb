// The TQL parameter file reader: the input is the file, cut into the lines the
// TQL page would send. No line is longer than a motor takes, none carries its
// line end, and the cutting ends.
#include "motor/param_file.hpp"

#include <string>

#include "support/byte_reader.hpp"
#include "support/scratch_file.hpp"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const fuzzsupport::ScratchFile file("fuzz-param");
    file.write({data, size});
    ResetParamFile();
    std::string error;
    const ParamFileLoad load = StartParameterFile(file.path(), &error);
    if (size > static_cast<size_t>(kParamFileMaxBytes)) {
        FUZZ_CHECK(load == ParamFileLoad::TooBig);
        return 0;
    }
    FUZZ_CHECK(load == ParamFileLoad::Started);
    std::string line;
    for (size_t cuts = 0;; ++cuts) {
        FUZZ_CHECK(cuts <= size + 1);
        const int32_t before = g_paramFileOffset;
        const ParamLineCut cut = CutParameterFileLine(&line);
        if (cut != ParamLineCut::Line) break;
        FUZZ_CHECK(g_paramFileOffset > before && g_paramFileOffset <= g_paramFileLength);
        FUZZ_CHECK(line.size() < static_cast<size_t>(kParamLineMaxTaken));
        FUZZ_CHECK(line.find_first_of("\r\n") == std::string::npos);
    }
    ResetParamFile();
    return 0;
}

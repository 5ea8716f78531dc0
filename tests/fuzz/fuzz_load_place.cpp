// Batches of update files through the whole load path: files on disk, their kind
// from the name, maps, sections, S-records, and saving.
//
// Input: one byte choosing the layout, then operations, each a kind byte, a
// 16-bit little-endian length and that many payload bytes.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <algorithm>
#include <fstream>
#include <string>
#include <unistd.h>

#include "FuzzSupport.h"

namespace {

const char* const kLayouts[] = {
    "#define CodeBufSize 0x60000\n#define FontBufSize 0x40000\n#define BmpBufSize 0x20000\n#define EsLogoPicBufSize 0x20000\n",
    // Small regions, so that fuzzed files run into every limit.
    "#define CodeBufSize 0x4000\n#define FontBufSize 0x2000\n#define BmpBufSize 0x1000\n#define EsLogoPicBufSize 0x800\n",
    // The logo region in the very last block, its start near the image end.
    "#define CodeBufSize 0x80000\n#define FontBufSize 0x40000\n#define BmpBufSize 0x3FFF0\n#define EsLogoPicBufSize 0x0\n",
    // Empty font and bitmap regions.
    "#define CodeBufSize 0x1000\n#define FontBufSize 0x0\n#define BmpBufSize 0x0\n#define EsLogoPicBufSize 0x0\n",
};

const uint32_t kMapSizes[] = {0x60000, 0x80000, 0x90000, 0xE0000, 0x70000, 0x5F001};

// Files go to memory-backed storage when there is some: saving syncs to disk.
const std::string& WorkDir() {
    static const std::string dir = [] {
        std::string pattern = (access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp") + std::string("/kestrel-fuzz-XXXXXX");
        Require(mkdtemp(pattern.data()) != nullptr, "scratch folder");
        return pattern;
    }();
    return dir;
}

void WriteFile(const std::string& path, const uint8_t* data, size_t size) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static DiscardingReporter reporter;
    static CFlashImage image(reporter);
    if (size < 1) return 0;
    Require(image.ReadFlashAddrAssignText(kLayouts[data[0] % 4], "fuzz layout"), "fuzz layout usable");
    image.ResetImage();
    const std::string dir = WorkDir();
    size_t at = 1;
    while (at + 3 <= size) {
        const uint8_t kind = data[at];
        size_t length = data[at + 1] | (size_t{data[at + 2]} << 8);
        at += 3;
        length = std::min(length, size - at);
        const uint8_t* payload = data + at;
        at += length;

        switch (kind % 6) {
        case 0: WriteFile(dir + "/section.bin", payload, length); image.OnLoadFile(dir + "/section.bin"); break;
        case 1: WriteFile(dir + "/code.s", payload, length); image.OnLoadFile(dir + "/code.s"); break;
        case 2: {  // a map-sized file, its bytes repeating the payload
            std::string map(kMapSizes[(kind / 6) % 6], '\xFF');
            // Doubling copies: a byte loop over a whole map is slow under the sanitizers.
            size_t filled = std::min(length, map.size());
            std::memcpy(map.data(), payload, filled);
            for (; filled > 0 && filled < map.size(); filled *= 2)
                std::memcpy(map.data() + filled, map.data(), std::min(filled, map.size() - filled));
            WriteFile(dir + "/map.bin", reinterpret_cast<const uint8_t*>(map.data()), map.size());
            image.OnLoadFile(dir + "/map.bin");
            break;
        }
        case 3: image.OnSaveFlashMap(dir + "/saved.bin"); break;
        case 4: image.OnLoadFile(dir + "/saved.bin"); break;  // what was saved, loaded back
        default: WriteFile(dir + "/notes.txt", payload, length); image.OnLoadFile(dir + "/notes.txt"); break;
        }
        RequireSoundImage(image);
    }
    return 0;
}

// The typed stream readers over bytes from anywhere: the same reads run over a memory stream and
// over a file read through the buffered file class, which must agree on every value and on where
// a read fails. Input: a count n (first byte, up to 63), n operation bytes, then the stream.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "fuzz_support.h"
#include "kxio.h"
#include "kxmemstream.h"

namespace {

// Runs the operations and writes what each gave, or where it failed, into the log.
void Run(KxInputStreamInterface& stream, const uint8_t* ops, size_t count, std::string& log) {
    for (size_t i = 0; i < count; ++i) {
        const uint8_t op = ops[i];
        const uint32_t arg = (op >> 4) + 1u;
        try {
            switch ((op & 0x0F) % 14) {
            case 0: log += std::to_string(stream.ReadBool()); break;
            case 1: log += std::to_string(stream.ReadShort()); break;
            case 2: log += std::to_string(stream.ReadUnsignedShort()); break;
            case 3: log += std::to_string(stream.ReadInt()); break;
            case 4: log += std::to_string(stream.ReadUnsignedLong()); break;
            case 5: log += std::to_string(stream.ReadUnsignedNative()); break;
            case 6: {
                double d = stream.ReadDouble();
                uint64_t bits;
                std::memcpy(&bits, &d, sizeof bits);
                log += std::to_string(bits);
                break;
            }
            case 7: {
                char* text = nullptr;
                stream.ReadCString(&text);
                log += text;
                delete[] text;
                break;
            }
            case 8: log += std::to_string(stream.ReadKxHeader(static_cast<int8_t>(op >> 4))); break;
            case 9: {
                std::vector<char> buffer(arg + 1, '\0');
                stream.ReadString(buffer.data(), arg, static_cast<char>(op & 0xF0));
                log += buffer.data();
                break;
            }
            case 10: {
                KxString text;
                log += stream.ReadString(text, static_cast<char>(op & 0xF0));
                log += text.GetCString();
                break;
            }
            case 11: {
                std::vector<char> buffer(arg, 'x');
                uint32_t n = stream.ReadLine(buffer.data(), arg);
                if (std::memchr(buffer.data(), '\0', arg) == nullptr)
                    tvfuzz::Fail("ReadLine left its buffer without a terminator");
                log += std::to_string(n) + buffer.data();
                break;
            }
            case 12: {
                KxString line;
                log += std::to_string(stream.ReadLine(line)) + line.GetCString();
                break;
            }
            case 13: {
                std::vector<char> buffer(arg);
                log += std::to_string(stream.Read(buffer.data(), arg, (op & 0x10) != 0));
                log.append(buffer.data(), arg);
                break;
            }
            }
        } catch (KxException&) {
            log += "|failed";
            return;
        }
        log += "|";
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    size_t count = std::min<size_t>(data[0] % 64, size - 1);
    const uint8_t* ops = data + 1;
    const uint8_t* bytes = ops + count;
    const size_t length = size - 1 - count;

    std::string fromMemory;
    {
        KxMemoryStream memory(bytes, static_cast<uint32_t>(length));
        Run(memory, ops, count, fromMemory);
    }

    std::string path =
        tvfuzz::WriteFile("stream.bin", std::string_view(reinterpret_cast<const char*>(bytes), length));
    std::string fromFile;
    try {
        KxIO file(path.c_str(), kxIORead);
        Run(file, ops, count, fromFile);
    } catch (KxException&) {
        tvfuzz::Fail("the stream file could not be opened");
    }
    if (fromMemory != fromFile) {
        std::fprintf(stderr, "memory: %s\nfile:   %s\n", fromMemory.c_str(), fromFile.c_str());
        tvfuzz::Fail("a memory stream and a file read the same bytes differently");
    }
    return 0;
}

// The command table reader: the input is written to a file and read as
// QUBRACOM.DAT for a multi-axis and the single-axis model mask. Every entry
// read must be well formed, and each is then used to validate a command
// built from it, so that tables of any shape drive the validator too.
#include "fuzz_support.h"

#include "validation/kv_val.h"

#include <sys/mman.h>
#include <unistd.h>

using namespace zelfuzz;

namespace {

// The input as a file, written again for every run: a memory file, so
// that runs do not wait for the disk.
struct TableFile {
    TableFile() {
        fd = ::memfd_create("QUBRACOM.DAT", MFD_CLOEXEC);
        FUZZ_CHECK(fd >= 0);
        path = "/proc/self/fd/" + std::to_string(fd);
    }
    ~TableFile() { ::close(fd); }
    void Write(const uint8_t* data, size_t size) {
        FUZZ_CHECK(::ftruncate(fd, 0) == 0);
        size_t done = 0;
        while (done < size) {
            const ssize_t n = ::pwrite(fd, data + done, size - done, static_cast<off_t>(done));
            FUZZ_CHECK(n > 0);
            done += static_cast<size_t>(n);
        }
    }
    int fd = -1;
    std::string path;
};

bool ValidResult(int result) {
    switch (result) {
    case zel::kValOk: case zel::kValUnknownCommand: case zel::kValTooFewArguments:
    case zel::kValTooManyArguments: case zel::kValWrongType: case zel::kValBelowRange:
    case zel::kValAboveRange: case zel::kValNotInList: case zel::kValBadCharacter:
    case zel::kValWrongAxisCount:
        return true;
    default:
        return false;
    }
}

void CheckEntry(const zel::KvValEntry& e) {
    FUZZ_CHECK(!e.name.empty() && e.name.size() <= zel::KvVal::kMaxNameLength);
    FUZZ_CHECK(e.argCount >= 0 && e.argCount <= zel::KvVal::kMaxArguments);
    FUZZ_CHECK(static_cast<long long>(e.argCNoDepOnDim) + e.argCDepOnDim == e.argCount);
    FUZZ_CHECK(e.args.size() == static_cast<size_t>(e.argCount));
    for (const zel::KvValArgument& arg : e.args) {
        FUZZ_CHECK(arg.list1.size() <= zel::KvVal::kMaxListItems);
        FUZZ_CHECK(arg.list2.size() <= zel::KvVal::kMaxListItems);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static TableFile file;
    static const bool prepared = (Prepare(), true);
    (void)prepared;
    file.Write(data, size);

    for (int mask : {zel::KvVal::kMaskModel0, zel::KvVal::kMaskSingleAxis}) {
        zel::KvVal val;
        val.SetModelMask(mask);
        FUZZ_CHECK(val.LoadFile(file.path));
        size_t checked = 0;
        for (const zel::KvValEntry& e : val.Entries()) {
            CheckEntry(e);
            FUZZ_CHECK((e.modelMask & mask) != 0);
            if (++checked > 32) continue;
            // The entry's command with "1" for every argument, on the axis
            // count it names (or 3), and the bare command word.
            std::string command;
            for (int i = 0; i < e.argCount; ++i) command += "1 ";
            command += e.name;
            const int axes = (e.nDim > 0 && e.nDim <= 4) ? e.nDim : 3;
            for (std::string text : {command, e.name}) {
                const zel::KvValOutcome o = val.Validate(text, axes, 1.0);
                FUZZ_CHECK(ValidResult(o.result));
                FUZZ_CHECK(o.errorIndex >= -1 && o.errorIndex <= e.argCount);
            }
        }
    }
    return 0;
}

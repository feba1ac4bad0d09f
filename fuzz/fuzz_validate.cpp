// QCValidate on the sample command table: the input is the command, in a
// buffer of exactly the size the call is given (so AddressSanitizer sees any
// byte read or written beyond it) and in a 256-byte buffer followed by guard
// bytes that must stay untouched.
//
// Input: [model and axes] [size of the small buffer] [firmware version]
//        then the command.
#include "fuzz_support.h"

#include "interface/library_frame.h"
#include "support/library_state.h"
#include "validation/kv_val.h"

#include <cstring>

using namespace zelfuzz;

namespace {

constexpr size_t kGuard = 64;
constexpr unsigned char kGuardByte = 0xA5;

struct Fixture {
    Fixture() {
        Prepare();
        auto& slot = zel::Interface().controller;
        slot = std::make_unique<zel::TController>(0);
        for (int i = 0; i < 2; ++i) {
            validators[i] = std::make_unique<zel::KvVal>();
            validators[i]->SetModelMask(i == 0 ? zel::KvVal::kMaskModel0 : zel::KvVal::kMaskSingleAxis);
            FUZZ_CHECK(validators[i]->LoadFile(ZELCOMM_SAMPLE_TABLE));
            FUZZ_CHECK(!validators[i]->Entries().empty());
        }
        slot->bCTableLoaded = true;
    }
    std::unique_ptr<zel::KvVal> validators[2];
};

bool KnownResult(int result) {
    switch (result) {
    case 1: case 2: case 3: case 4: case 5: case 6: case 7: case 8: case 24: case 26: return true;
    default: return false;
    }
}

// Fills the first `size` bytes of buffer with the command, terminated when
// it fits (a command filling the whole buffer is left unterminated).
void Place(char* buffer, size_t size, const std::string& command) {
    const size_t n = command.size() < size ? command.size() : size;
    std::memcpy(buffer, command.data(), n);
    if (n < size) buffer[n] = '\0';
}

void CheckCall(const char* command, int size, int result, const char* token, size_t tokenSize) {
    FUZZ_CHECK(KnownResult(result));
    // A command that validates is terminated inside its buffer.
    if (result == 1) FUZZ_CHECK(::memchr(command, '\0', static_cast<size_t>(size)) != nullptr);
    if (token && tokenSize > 0) FUZZ_CHECK(::memchr(token, '\0', tokenSize) != nullptr);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static Fixture f;
    zel::TController& c = *zel::Controller();
    Input in(data, size);
    const uint8_t b0 = in.Byte(), smallByte = in.Byte(), version = in.Byte();
    const int model = b0 & 1;
    const int axes = static_cast<int>((b0 >> 1) % 6) - 1;  // -1..4
    std::swap(c.pCValidator, f.validators[model]);
    zel::State().libraryVersion = version / 10.0;
    const std::string command = in.Rest();

    // Exactly sized buffers: any access beyond them is reported.
    const size_t sizes[] = {static_cast<size_t>(1 + smallByte % 32), command.size() + 1};
    for (size_t bufferSize : sizes) {
        std::unique_ptr<char[]> buffer(new char[bufferSize]);
        Place(buffer.get(), bufferSize, command);
        std::unique_ptr<char[]> token(new char[64]);
        token[0] = '\0';
        int lines = 0, index = -99;
        const int result = QCValidate(buffer.get(), static_cast<int>(bufferSize), axes, &lines, token.get(), &index);
        CheckCall(buffer.get(), static_cast<int>(bufferSize), result, token.get(), 64);
        FUZZ_CHECK(index >= -1);

        const size_t tokenSize = 1 + smallByte % 8;
        std::unique_ptr<char[]> small(new char[tokenSize]);
        small[0] = '\0';
        Place(buffer.get(), bufferSize, command);
        const int again = QCValidateEx(buffer.get(), static_cast<int>(bufferSize), axes, nullptr, small.get(),
                                       nullptr, tokenSize);
        CheckCall(buffer.get(), static_cast<int>(bufferSize), again, small.get(), tokenSize);
        FUZZ_CHECK(again == result);
    }

    // The usual 256-byte buffer, with guard bytes behind it.
    unsigned char guarded[256 + kGuard];
    std::memset(guarded, kGuardByte, sizeof guarded);
    char* text = reinterpret_cast<char*>(guarded);
    Place(text, 256, command);
    char token[64 + kGuard];
    std::memset(token, static_cast<char>(kGuardByte), sizeof token);
    token[0] = '\0';
    int lines = 0, index = -99;
    const int result = QCValidate(text, 256, axes, &lines, token, &index);
    CheckCall(text, 256, result, token, 64);
    for (size_t i = 256; i < sizeof guarded; ++i) FUZZ_CHECK(guarded[i] == kGuardByte);
    for (size_t i = 64; i < sizeof token; ++i) FUZZ_CHECK(static_cast<unsigned char>(token[i]) == kGuardByte);

    std::swap(c.pCValidator, f.validators[model]);
    return 0;
}

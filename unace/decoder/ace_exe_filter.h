// Undoes the x86 call/jump filter of EXE runs: the operand after an E8 (32 bits, or 16 when
// the run's mode E is 0) or E9 (16 bits) byte was made absolute by adding the opcode's member
// position. Opcodes among the last 4 bytes of a run stay untranslated, so an opcode with fewer
// than 4 bytes after it is held back until more of the run (or its end) is known.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace dvl::unace::detail {

class ExeFilter {
public:
    // A fresh filter for a member.
    void Reset();
    void SetMode(int exeMode) { wideCalls_ = exeMode != 0; }

    // Filters `size` bytes that start at member position `position` (right after the bytes
    // fed before) into `out`, which receives what can be decided now.
    void Feed(const uint8_t* data, size_t size, uint64_t position, std::vector<uint8_t>& out);
    // The run ended: the held-back bytes leave unchanged.
    void Flush(std::vector<uint8_t>& out);

private:
    std::vector<uint8_t> held_;
    bool wideCalls_ = false;
};

} // namespace dvl::unace::detail

#pragma once

// The opcodes 0x00 to 0xA1 of QuickDraw pictures, as Apple's "Imaging With QuickDraw"
// (appendix A, "Picture Opcodes") lists them: each one's name and how long its data is.
// Opcodes whose data needs reading to know its length, and those the decoder acts on, are
// marked Handled; the PICT decoder treats them one by one.

enum class PictDataKind {
    Fixed,       // a fixed number of bytes
    WordLength,  // a 2-byte count, then that many bytes
    Handled,     // the decoder reads the data itself
};

struct PictOpcodeInfo {
    const char* name;  // "reserved" for reserved opcodes
    PictDataKind kind;
    int length;  // for Fixed: the number of data bytes
};

constexpr int kLastTabledPictOpcode = 0xA1;

// The entry of an opcode from 0 to kLastTabledPictOpcode.
const PictOpcodeInfo& PictOpcode(int opcode);

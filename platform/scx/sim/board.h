// The description of a board as a board file gives it: what the world is
// built from. Parsing checks every field, so a description that parsed is
// consistent and the world never has to check it again.
#ifndef SCXSIM_BOARD_H
#define SCXSIM_BOARD_H

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace scxsim {
namespace detail {

enum class NodeKind { memory, stream, probe, shift, riscv };

struct ShiftRegisterDesc {
    uint64_t instruction;
    unsigned width;
};

struct NodeDesc {
    NodeKind kind = NodeKind::shift;
    unsigned instance = 0;
    unsigned manufacturer = 110;
    unsigned node_id = 0;
    unsigned version = 0;
    unsigned long depth = 256; // memory words, or stream FIFO bytes
    unsigned width = 32;       // memory word width
    unsigned probe_width = 32;
    unsigned source_width = 32;
    std::vector<ShiftRegisterDesc> registers; // shift
    uint32_t idcode = 1;                      // riscv: the transport's IDCODE
    uint32_t ram_base = 0x80000000;           // riscv: the hart's RAM
    uint32_t ram_size = 0x10000;
    // The node information word the hub reports for this node.
    uint32_t info_word() const;
};

struct HubDesc {
    unsigned version = 0;
    unsigned ir_width = 8; // m
    unsigned manufacturer = 110;
    unsigned node_count = 0; // what the hub word reports
    std::vector<NodeDesc> nodes;
    uint32_t info_word() const;
};

struct DeviceDesc {
    uint32_t idcode = 0;
    unsigned ir_length = 0;
    std::optional<std::string> name;
    uint32_t ir_capture = 1;
    uint32_t idcode_instruction = 6;
    std::optional<HubDesc> hub;
};

struct CableDesc {
    unsigned long persistent_id = 0;
    std::optional<std::string> name;
    std::optional<std::string> full_name;
    unsigned long flags = 0;
    std::vector<DeviceDesc> devices;
};

struct BoardDesc {
    std::vector<CableDesc> cables;
};

// Each parses JSON text. On failure returns false and stores one message
// "<source>: <JSON path>: <what is wrong>".
bool parse_board(const std::string &text, const std::string &source, BoardDesc *out, std::string *error);
bool parse_cable(const std::string &text, const std::string &source, CableDesc *out, std::string *error);
bool parse_device(const std::string &text, const std::string &source, DeviceDesc *out, std::string *error);

// Reads a whole board file; false, with the reason in *why, when it is
// not a readable regular file of at most 16 MiB.
bool read_text_file(const std::string &path, std::string *text, std::string *why = nullptr);

} // namespace detail
} // namespace scxsim

#endif

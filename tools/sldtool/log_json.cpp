#include "log_json.h"

#include <map>

#include "log_decode.h"
#include "numbers.h"

namespace sldtool {

namespace {

Json text_or_null(const std::string &text) {
    return text.empty() ? Json(nullptr) : Json(text);
}

Json bits_or_null(bool known, const std::vector<uint8_t> &bits, unsigned long length) {
    return known && bits.size() * 8 >= length ? Json(format_hex_bits(bits.data(), length)) : Json(nullptr);
}

Json entry_json(const LogEntry &entry, size_t record, unsigned long *instruction, unsigned node_count) {
    Json json;
    switch (entry.kind) {
    case LogKind::rti:
        json["record"] = nullptr;
        json["kind"] = "rti";
        json["clocks"] = entry.value;
        return json;
    case LogKind::delay:
        json["record"] = nullptr;
        json["kind"] = "delay";
        json["microseconds"] = entry.value;
        return json;
    case LogKind::ir:
        *instruction = entry.value;
        json["record"] = record;
        json["kind"] = "ir";
        json["instruction"] = entry.value;
        json["meaning"] = text_or_null(instruction_name(entry.value));
        return json;
    case LogKind::dr:
        break;
    }
    const bool whole = entry.captured_bits != 0 && entry.captured_bits >= entry.value;
    json["record"] = record;
    json["kind"] = "dr";
    json["length"] = entry.value;
    json["written"] = bits_or_null(entry.has_data, entry.data, entry.value);
    json["captured"] = bits_or_null(whole, entry.captured, entry.value);
    json["captured_instruction"] =
        bits_or_null(entry.captured_bits != 0 && !whole, entry.captured, entry.captured_bits);
    json["meaning"] = text_or_null(scan_meaning(entry, *instruction, node_count));
    return json;
}

} // namespace

Json log_json(const std::vector<LogStep> &steps) {
    Json json;
    json["records"] = entry_count(steps);
    json["steps"] = Json::array();
    // The instruction each device was left with, as in the decoded log.
    std::map<std::string, unsigned long> loaded;
    size_t record = 0;
    for (const LogStep &step : steps) {
        unsigned long &instruction = loaded.emplace(step.device, SLD_IR_UNKNOWN).first->second;
        Json entries = Json::array();
        for (const LogEntry &entry : step.entries) {
            record += entry.recorded();
            entries.push_back(entry_json(entry, record, &instruction, step.node_count));
        }
        Json item;
        item["step"] = step.label;
        item["device"] = text_or_null(step.device);
        item["entries"] = std::move(entries);
        json["steps"].push_back(std::move(item));
    }
    return json;
}

} // namespace sldtool

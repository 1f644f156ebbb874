#include "catalog.h"

#include <nlohmann/json.hpp>

#include <cctype>

#include "scxsim.h"

namespace {

std::string lower(std::string text) {
    for (char &c : text)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

void read_board(Catalog *catalog) {
    nlohmann::json board = nlohmann::json::parse(scxsim::default_board_json());
    for (const nlohmann::json &cable : board["cables"]) {
        unsigned long id = cable["persistent_id"].get<unsigned long>();
        catalog->cable_ids.push_back(id);
        catalog->cable_json[id] = cable.dump();
        std::string name = cable["name"].get<std::string>();
        std::string full = cable["full_name"].get<std::string>();
        for (const std::string &candidate : {name, full, name + " ", lower(name)})
            catalog->names.push_back(candidate);
        for (const nlohmann::json &device : cable["devices"])
            catalog->device_json.push_back(device.dump());
    }
    // A hub too narrow for the capture of its nodes 1 and 2 (8 x index + 11
    // needs more than 4 bits): plugged in, its captures are refused.
    catalog->device_json.push_back(
        R"({"idcode":"0x0A4A0001","ir_length":10,"name":"SIM-NARROW",)"
        R"("hub":{"ir_width":4,"version":1,"nodes":[{"model":"shift"},{"model":"shift"},{"model":"shift"}]}})");
    catalog->names.push_back("");
    catalog->names.push_back("no such cable");
    catalog->names.push_back(std::string(300, 'x'));
    catalog->new_cable_names = {"Renamed-A", "Renamed-B", catalog->names[0], ""};
    catalog->idcodes = {0x020A10DD, 0x0A1B2C3D, 0x12345093, 0x02B150DD,
                        0x0BADC0DE, 0,          0xFFFFFFFF, 0x10000001};
}

void ask_library(Catalog *catalog) {
    unsigned long count = 0;
    char **table = nullptr;
    if (sld_get_hardware(&count, &table) == SLD_OK)
        catalog->hardware.assign(table, table + count);
    for (unsigned long id : catalog->cable_ids) {
        char *name = nullptr;
        if (sld_get_hardware_name(id, &name) == SLD_OK && name != nullptr)
            catalog->short_names[id] = name;
    }
    std::vector<std::string> real_names;
    for (const std::string &name : catalog->names) {
        unsigned long id = 0;
        if (sld_get_hardware_persistent_id(name.c_str(), &id) == SLD_OK) {
            catalog->persistent_ids[name] = id;
            real_names.push_back(name);
        }
        char **devices = nullptr;
        count = 0;
        SLD_ERROR status = sld_get_device(name.c_str(), &count, &devices);
        catalog->device_answers[name] = CleanDeviceAnswer{status, count};
        for (unsigned long i = 0; status == SLD_OK && i < count; ++i) {
            bool known = false;
            for (const std::string &d : catalog->devices)
                known = known || d == devices[i];
            if (!known)
                catalog->devices.push_back(devices[i]);
        }
    }
    const size_t real_devices = catalog->devices.size();
    for (const std::string &name : real_names) {
        for (size_t i = 0; i < real_devices; ++i) {
            int hub = -1;
            SLD_ERROR status = sld_hub_open(name.c_str(), catalog->devices[i].c_str(), &hub);
            catalog->opens[{name, catalog->devices[i]}] = status;
            if (status == SLD_OK)
                sld_hub_close(hub);
        }
    }
    if (real_devices > 0) {
        std::string first = catalog->devices[0];
        catalog->devices.push_back(lower(first));
        catalog->devices.push_back(first + " ");
    }
    for (const std::string &junk :
         {std::string(""), std::string("@1:"), std::string("@99: none (0x00000000)"), std::string(400, '@')})
        catalog->devices.push_back(junk);
}

} // namespace

void build_catalog(Catalog *catalog) {
    read_board(catalog);
    ask_library(catalog);
}

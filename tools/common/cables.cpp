#include "cables.h"

#include "client_hardware.h"
#include "errors.h"
#include "sld.h"

namespace sldtool {

namespace {

// The persistent id the library finds by name; false when it finds none.
bool persistent_id_of(const std::string &name, unsigned long *persistent_id) {
    // The first lookup after the server has given a hardware a new chain
    // fails and the next one finds it, so ask twice.
    int status = sld_get_hardware_persistent_id(name.c_str(), persistent_id);
    if (status == SLD_HARDWARE_NOT_FOUND) {
        status = sld_get_hardware_persistent_id(name.c_str(), persistent_id);
    }
    return status == SLD_OK;
}

std::string library_name_of(const Cable &cable) {
    std::vector<const std::string *> names = {&cable.name};
    if (cable.has_full_name) {
        names.push_back(&cable.full_name);
    }
    for (const std::string *name : names) {
        unsigned long id = 0;
        if (persistent_id_of(*name, &id) && id == cable.persistent_id) {
            return *name;
        }
    }
    return "";
}

// Each listed name with the persistent id the library finds by it: all the
// library can tell when the client library does not answer.
std::vector<Cable> cables_by_name(const std::vector<std::string> &names) {
    std::vector<Cable> cables;
    for (const std::string &name : names) {
        Cable cable;
        cable.name = name;
        if (persistent_id_of(name, &cable.persistent_id)) {
            cable.has_persistent_id = true;
            cable.has_full_name = hardware_full_name(cable.persistent_id, &cable.full_name);
        }
        cables.push_back(cable);
    }
    return cables;
}

std::string listed(const std::vector<Cable> &cables) {
    std::string text;
    for (const Cable &cable : cables) {
        text += "\n  " + cable.description();
    }
    return text;
}

} // namespace

std::string Cable::description() const {
    std::string text = name + " (";
    text += has_full_name ? "full name \"" + full_name + "\"" : std::string("no full name");
    text += has_persistent_id ? ", persistent id " + std::to_string(persistent_id) + ")"
                              : std::string(", persistent id unknown)");
    return text;
}

std::vector<Cable> list_cables() {
    unsigned long count = 0;
    char **table = nullptr;
    int status = sld_get_hardware(&count, &table);
    if (status == SLD_HARDWARE_NOT_FOUND) {
        return {};
    }
    check_status(status, "sld_get_hardware");
    std::vector<std::string> names;
    for (unsigned long i = 0; i < count && table != nullptr && table[i] != nullptr; ++i) {
        names.push_back(table[i]);
    }
    // The client tells the cables apart by persistent id; the library says
    // which of them it lists and under which short name.
    std::vector<Cable> cables;
    for (const ClientHardware &hardware : client_hardware()) {
        char *name = nullptr;
        if (sld_get_hardware_name(hardware.persistent_id, &name) != SLD_OK || name == nullptr) {
            continue;
        }
        Cable cable;
        cable.name = name;
        cable.has_persistent_id = true;
        cable.persistent_id = hardware.persistent_id;
        cable.has_full_name = hardware.has_full_name;
        cable.full_name = hardware.full_name;
        cables.push_back(cable);
    }
    if (cables.size() != names.size()) {
        cables = cables_by_name(names);
    }
    for (Cable &cable : cables) {
        if (cable.has_persistent_id) {
            cable.library_name = library_name_of(cable);
        }
    }
    return cables;
}

const Cable &find_cable(const std::vector<Cable> &cables, const std::string &name) {
    // A full name is the hardware's identity: it names its cable even when
    // another cable has it as short name. Short names may be shared.
    std::vector<const Cable *> by_full_name, by_name;
    for (const Cable &cable : cables) {
        if (cable.has_full_name && cable.full_name == name) {
            by_full_name.push_back(&cable);
        }
        if (cable.name == name) {
            by_name.push_back(&cable);
        }
    }
    const std::vector<const Cable *> &fits = by_full_name.empty() ? by_name : by_full_name;
    if (fits.empty()) {
        throw ToolError(exit_not_found, "no JTAG hardware named \"" + name + "\"" +
                                            (cables.empty() ? std::string("; there is no JTAG hardware")
                                                            : "; the cables are:" + listed(cables)));
    }
    if (fits.size() > 1) {
        std::vector<Cable> candidates;
        for (const Cable *cable : fits) {
            candidates.push_back(*cable);
        }
        throw ToolError(exit_not_found, "the cable name \"" + name + "\" fits " +
                                            std::to_string(fits.size()) + " cables:" + listed(candidates) +
                                            "\nname one by its full name");
    }
    if (fits[0]->library_name.empty()) {
        throw ToolError(exit_not_found, "the library finds another cable by each name of " +
                                            fits[0]->description() + "; it cannot be used");
    }
    return *fits[0];
}

} // namespace sldtool

#include "cli.h"

#include <cstdlib>
#include <fstream>
#include <iostream>
#include <memory>
#include <new>

#include <CLI/CLI.hpp>

#include "batch_parse.h"
#include "batch_run.h"
#include "errors.h"
#include "inventory.h"
#include "list_output.h"
#include "log_decode.h"
#include "numbers.h"
#include "openocd_servers.h"
#include "scan_log.h"
#include "scans.h"
#include "sld.h"
#include "vcd_writer.h"

#ifndef SLDTOOL_VERSION
#define SLDTOOL_VERSION "unknown"
#endif

namespace sldtool {

namespace {

const char *const EXIT_CODES = "Exit codes:\n"
                               "  0  success\n"
                               "  1  a library call failed (its status is printed by name)\n"
                               "  2  usage error: bad arguments, numbers, hex data or batch lines\n"
                               "  3  no such cable or device, or node index out of range\n"
                               "  4  a file could not be read or written";

struct Arguments {
    std::string board;
    std::vector<std::string> openocd;
    bool log = false;
    std::string vcd;
    bool json = false;
    ScanOptions scan;
    std::string timeout = std::to_string(DEFAULT_LOCK_TIMEOUT);
    std::string value;    // ir: instruction; dr: length
    std::string data;     // dr: hex bits
    std::string ir_first; // dr: instruction loaded first
    std::string batch = "-";
};

std::string version_text() {
    int major = 0, minor = 0;
    std::string text = std::string("sldtool ") + SLDTOOL_VERSION;
    if (sld_get_version(&major, &minor) == SLD_OK) {
        text += "\nlibrary interface " + std::to_string(major) + "." + std::to_string(minor);
    }
    return text;
}

void add_target_options(CLI::App *command, Arguments &args) {
    command->add_option("-c,--cable", args.scan.target.cable, "the cable: short or full hardware name")
        ->required()
        ->type_name("NAME");
    command
        ->add_option("-d,--device", args.scan.target.device,
                     "the device: its device string, or @N for position N")
        ->required()
        ->type_name("DEVICE");
    command->add_option("-n,--node", args.scan.target.node, "the node index within the device's hub")
        ->required()
        ->type_name("INDEX");
    command->add_option("--timeout", args.timeout, "hub lock time-out in the JTAG library's units (ms)")
        ->capture_default_str()
        ->type_name("NUMBER");
}

unsigned long lock_timeout(const std::string &text) {
    uint64_t value = 0;
    std::string error;
    if (!parse_number(text, 0xFFFFFFFFu, &value, &error)) {
        throw ToolError(exit_usage, "--timeout: " + error);
    }
    return static_cast<unsigned long>(value);
}

std::vector<BatchLine> read_batch(const std::string &path) {
    std::ifstream file;
    std::istream *in = &std::cin;
    if (path != "-") {
        file.open(path);
        if (!file) {
            throw ToolError(exit_file, "cannot read batch file \"" + path + "\"");
        }
        in = &file;
    }
    std::vector<std::string> errors;
    std::vector<BatchLine> lines = parse_batch(*in, &errors);
    if (in->bad()) {
        throw ToolError(exit_file, "error while reading batch file \"" + path + "\"");
    }
    if (!errors.empty()) {
        std::string message = "malformed batch, nothing was scanned:";
        const std::string source = path == "-" ? "standard input" : path;
        for (const std::string &error : errors) {
            message += "\n  " + source + ": " + error;
        }
        throw ToolError(exit_usage, message);
    }
    return lines;
}

void run_list(const Arguments &args, ScanLog *log) {
    Inventory inventory = take_inventory(log);
    if (inventory.cables.empty() && !args.board.empty()) {
        std::cerr << "sldtool: note: the board file \"" << args.board
                  << "\" gave no cables; a message from the JTAG library above may say why\n";
    }
    if (args.json) {
        write_json(std::cout, inventory);
    } else {
        write_tree(std::cout, inventory);
    }
    if (!inventory.warnings.empty()) {
        std::string message = "the listing is complete, but closing failed:";
        for (const std::string &warning : inventory.warnings) {
            message += "\n" + warning;
        }
        throw ToolError(exit_library, message);
    }
}

void write_log_outputs(const Arguments &args, const ScanLog &log, std::ofstream *vcd) {
    if (args.log) {
        // Keep standard output pure JSON when JSON was asked for.
        write_decoded_log(args.json ? std::cerr : std::cout, log.steps());
    }
    if (vcd->is_open()) {
        write_vcd(*vcd, log.steps());
        vcd->close();
        if (vcd->fail()) {
            throw ToolError(exit_file, "cannot write VCD file \"" + args.vcd + "\"");
        }
    }
}

int report(const ToolError &error) {
    std::cout.flush();
    report_unreachable_servers(std::cerr);
    std::cerr << "sldtool: " << error.what() << std::endl;
    return error.exit_code();
}

} // namespace

int run(int argc, char **argv) {
    Arguments args;
    CLI::App app("See what is on the JTAG chains and talk to the nodes behind their hubs.", "sldtool");
    app.set_version_flag("--version", version_text);
    app.footer(EXIT_CODES);
    app.require_subcommand(0, 1);
    app.fallthrough();
    app.add_option("--board", args.board, "simulated board file to use (sets SCX_SIM_BOARD)")
        ->type_name("FILE");
    app.add_option("--openocd", args.openocd,
                   "use the OpenOCD server with this Tcl RPC port instead of the simulated board (repeatable)")
        ->type_name("HOST:PORT")
        ->allow_extra_args(false)
        ->excludes("--board");
    app.add_flag("--log", args.log, "print the scan log afterwards, decoded");
    app.add_option("--vcd", args.vcd, "write the scan log as a VCD waveform to this file")->type_name("FILE");

    CLI::App *list =
        app.add_subcommand("list", "tree of cables, devices, hubs and nodes (the default command)");
    list->add_flag("--json", args.json, "JSON instead of the tree (schema in docs/sldtool.md)");
    list->footer(EXIT_CODES);

    CLI::App *ir = app.add_subcommand("ir", "one virtual IR scan; prints the captured instruction");
    add_target_options(ir, args);
    ir->add_flag("--lock", args.scan.lock, "hold the hub lock around the scan");
    ir->add_option("value", args.value, "instruction value (decimal, 0x hex or 0b binary)")
        ->required()
        ->type_name("NUMBER");
    ir->footer(EXIT_CODES);

    CLI::App *dr = app.add_subcommand("dr", "one virtual DR scan; prints the captured bits in hex");
    add_target_options(dr, args);
    dr->add_flag("--lock", args.scan.lock, "hold the hub lock around the scans");
    dr->add_option(
          "--ir", args.ir_first,
          "first load this instruction into the node; without it the scan goes to what the hub selected "
          "last, which after opening is the hub itself")
        ->type_name("NUMBER");
    dr->add_option("length", args.value, "scan length in bits")->required()->type_name("NUMBER");
    dr->add_option("data", args.data,
                   "bits to write as one hex number, bit 0 shifted first; none: write nothing")
        ->type_name("HEX");
    dr->footer(EXIT_CODES);

    CLI::App *batch =
        app.add_subcommand("batch", "ir/dr/rti/delay lines from a file, run under one hub lock");
    add_target_options(batch, args);
    batch->add_option("file", args.batch, "batch file; - or none: standard input")
        ->capture_default_str()
        ->type_name("FILE");
    batch->footer(
        std::string("Lines: ir VALUE [delay N] | dr LENGTH [HEX] [delay N] | rti COUNT | delay AMOUNT\n"
                    "'#' starts a comment.\n") +
        EXIT_CODES);

    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError &error) {
        int code = app.exit(error);
        return code == 0 ? exit_success : exit_usage;
    }

    int code = exit_success;
    ScanLog log;
    std::ofstream vcd;
    try {
        if (!args.board.empty()) {
            if (!std::ifstream(args.board)) {
                throw ToolError(exit_file, "cannot read board file \"" + args.board + "\"");
            }
            // Must come before the first call that reaches the JTAG library.
            setenv("SCX_SIM_BOARD", args.board.c_str(), 1);
        }
        if (!args.openocd.empty()) {
            use_openocd_servers(args.openocd);
        }
        if (!args.vcd.empty()) {
            vcd.open(args.vcd);
            if (!vcd) {
                throw ToolError(exit_file, "cannot write VCD file \"" + args.vcd + "\"");
            }
        }
        args.scan.timeout = lock_timeout(args.timeout);
        std::vector<BatchLine> lines;
        if (batch->parsed()) {
            lines = read_batch(args.batch);
        }
        if (args.log || vcd.is_open()) {
            log.start();
        }
        ScanLog *log_ptr = log.started() ? &log : nullptr;
        if (ir->parsed()) {
            run_ir(args.scan, args.value, log_ptr, std::cout);
        } else if (dr->parsed()) {
            if (args.ir_first.empty()) {
                std::cerr << "sldtool: note: without --ir the scan goes to what the hub selected last; after "
                             "opening the hub that is the hub itself, not node "
                          << args.scan.target.node << "\n";
            }
            run_dr(args.scan, args.value, args.data, args.ir_first, log_ptr, std::cout);
        } else if (batch->parsed()) {
            run_batch(args.scan, lines, log_ptr, std::cout);
        } else {
            run_list(args, log_ptr);
        }
    } catch (const ToolError &error) {
        code = report(error);
    } catch (const std::bad_alloc &) {
        code = report(ToolError(exit_library, "out of memory"));
    }
    report_unreachable_servers(std::cerr);
    try {
        log.finish();
        write_log_outputs(args, log, &vcd);
    } catch (const ToolError &error) {
        int log_code = report(error);
        code = code == exit_success ? log_code : code;
    } catch (const std::bad_alloc &) {
        int log_code = report(ToolError(exit_library, "out of memory while writing the scan log"));
        code = code == exit_success ? log_code : code;
    }
    std::cout.flush();
    return code;
}

} // namespace sldtool

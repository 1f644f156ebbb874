#include "cli.h"

#include <fstream>
#include <iostream>
#include <memory>
#include <new>
#include <optional>

#include <CLI/CLI.hpp>

#include "batch_parse.h"
#include "commands.h"
#include "errors.h"
#include "inventory.h"
#include "jtag_source.h"
#include "list_output.h"
#include "log_decode.h"
#include "numbers.h"
#include "openocd_servers.h"
#include "report.h"
#include "run_ops.h"
#include "scan_log.h"
#include "sld.h"
#include "vcd_writer.h"

#ifndef SLDTOOL_VERSION
#define SLDTOOL_VERSION "unknown"
#endif

namespace sldtool {

namespace {

const char *const EXIT_CODES =
    "Exit codes:\n"
    "  0  success\n"
    "  1  a library call failed (its status is printed by name), an error kept list from examining\n"
    "     a device, or an OpenOCD server was not reached\n"
    "  2  usage error: bad arguments, numbers, data, batch lines or OpenOCD servers\n"
    "  3  no such cable, device or node, or a name that fits several\n"
    "  4  a file could not be read or written, or the board file was refused";

const char *const SYNTAX = "Numbers (VALUE, LENGTH, COUNT, INDEX, --timeout): decimal, 0x hex or 0b binary.\n"
                           "DATA: hex digits with or without 0x, or 0b and binary digits: one number whose\n"
                           "bit 0 is shifted first; it must fit in LENGTH bits.\n"
                           "Units: a delay is in microseconds; an rti COUNT is TCK clocks in Run-Test/Idle.\n"
                           "The node: its INDEX, or id:N for the node whose node id is N.";

// Options that apply to every command.
struct GlobalOptions {
    JtagSource source;
    bool log = false;
    std::string vcd;
    bool json = false;
};

struct Arguments {
    GlobalOptions global;
    ScanOptions scan;
    std::string timeout = std::to_string(DEFAULT_LOCK_TIMEOUT);
    std::string ir_value;              // ir
    std::vector<std::string> dr_irs;   // dr: each --ir
    std::vector<std::string> dr_words; // dr: LENGTH and DATA words
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

CLI::Validator non_empty() {
    return CLI::Validator([](std::string &value) { return value.empty() ? "is empty" : ""; }, "",
                          "non-empty");
}

void add_global_options(CLI::App &app, GlobalOptions *global) {
    add_source_options(app, &global->source);
    app.add_flag("--log", global->log,
                 "print the scan log afterwards, decoded (with --json: in the document)");
    app.add_option("--vcd", global->vcd, "write the scan log as a VCD waveform to this file")
        ->type_name("FILE")
        ->check(non_empty());
    app.add_flag("--json", global->json,
                 "JSON instead of text, for every command (schema in docs/sldtool.md)");
}

void add_target_options(CLI::App *command, Arguments &args) {
    command->add_option("-c,--cable", args.scan.target.cable, "the cable: short or full hardware name")
        ->required()
        ->type_name("NAME");
    command
        ->add_option("-d,--device", args.scan.target.device,
                     "the device: its device string, @N for position N, or its name when unique on the chain")
        ->required()
        ->type_name("DEVICE");
    command->add_option("-n,--node", args.scan.target.node, "the node: its index in the hub, or id:N")
        ->required()
        ->type_name("NODE");
    command->add_option("--timeout", args.timeout, "hub lock time-out in the JTAG library's units (ms)")
        ->capture_default_str()
        ->type_name("NUMBER");
    command->add_flag("--json", args.global.json, "JSON instead of text (schema in docs/sldtool.md)");
}

unsigned long lock_timeout(const std::string &text) {
    uint64_t value = 0;
    std::string error;
    if (!parse_number(text, 0xFFFFFFFFu, &value, &error)) {
        throw ToolError(exit_usage, "--timeout: " + error);
    }
    return static_cast<unsigned long>(value);
}

void read_batch(const std::string &path, BatchText *batch) {
    std::ifstream file;
    std::istream *in = &std::cin;
    if (path != "-") {
        file.open(path, std::ios::binary);
        if (!file) {
            throw ToolError(exit_file, "cannot read batch file \"" + path + "\"");
        }
        in = &file;
    }
    const std::string source = path == "-" ? "standard input" : path;
    std::vector<std::string> errors;
    std::string failure;
    if (!batch->read(*in, &errors, &failure)) {
        throw ToolError(exit_file, "cannot use batch " + source + ": " + failure);
    }
    if (!errors.empty()) {
        std::string message = "malformed batch, nothing was scanned:";
        for (const std::string &error : errors) {
            message += "\n  " + source + ": " + error;
        }
        throw ToolError(exit_usage, message);
    }
}

// The --ir and LENGTH/DATA words of dr in the order they were given.
std::vector<DrWord> dr_words(const CLI::App *dr, const CLI::Option *ir, const CLI::Option *words,
                             const Arguments &args) {
    std::vector<DrWord> ordered;
    size_t next_ir = 0, next_word = 0;
    for (const CLI::Option *option : dr->parse_order()) {
        if (option == ir && next_ir < args.dr_irs.size()) {
            ordered.push_back(DrWord{true, args.dr_irs[next_ir++]});
        } else if (option == words && next_word < args.dr_words.size()) {
            ordered.push_back(DrWord{false, args.dr_words[next_word++]});
        }
    }
    return ordered;
}

void run_list(const Arguments &args, ScanLog &log) {
    Inventory inventory = take_inventory(log.started() ? &log : nullptr);
    if (args.global.json) {
        log.finish();
        write_json(std::cout, inventory, args.global.log ? &log.steps() : nullptr);
    } else {
        write_tree(std::cout, inventory);
    }
    std::string message;
    if (const size_t unexamined = inventory.unexamined()) {
        message = "an error kept " + std::to_string(unexamined) +
                  " of the cables and devices listed from being examined; the listing says which and why";
    }
    if (!inventory.warnings.empty()) {
        message += std::string(message.empty() ? "" : "\n") + "the listing is complete, but closing failed:";
        for (const std::string &warning : inventory.warnings) {
            message += "\n" + warning;
        }
    }
    if (!message.empty()) {
        throw ToolError(exit_library, message);
    }
}

void write_log_outputs(const Arguments &args, const ScanLog &log, std::ofstream *vcd) {
    if (args.global.log && !args.global.json) {
        write_decoded_log(std::cout, log.steps());
    }
    if (vcd->is_open()) {
        write_vcd(*vcd, log.steps());
        vcd->close();
        if (vcd->fail()) {
            throw ToolError(exit_file, "cannot write VCD file \"" + args.global.vcd + "\"");
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
    add_global_options(app, &args.global);

    CLI::App *list =
        app.add_subcommand("list", "tree of cables, devices, hubs and nodes (the default command)");
    list->add_flag("--json", args.global.json, "JSON instead of the tree (schema in docs/sldtool.md)");
    list->footer(EXIT_CODES);

    CLI::App *ir = app.add_subcommand("ir", "one virtual IR scan; prints the captured instruction");
    add_target_options(ir, args);
    ir->add_flag("--lock", args.scan.lock, "hold the hub lock around the scan");
    ir->add_option("value", args.ir_value, "the instruction")->required()->type_name("VALUE");
    ir->footer(std::string(SYNTAX) + "\n\n" + EXIT_CODES);

    CLI::App *dr = app.add_subcommand(
        "dr", "virtual DR scans, with instructions loaded between them; prints the captures");
    add_target_options(dr, args);
    dr->add_flag("--lock", args.scan.lock, "hold the hub lock around the scans");
    CLI::Option *dr_ir =
        dr->add_option("--ir", args.dr_irs,
                       "load this instruction before the scans that follow (may be repeated between "
                       "them); without one the first scan goes to what the hub selected last, which after "
                       "opening is the hub itself")
            ->type_size(1)
            ->allow_extra_args(false)
            ->type_name("VALUE");
    CLI::Option *dr_scan =
        dr->add_option("scans", args.dr_words,
                       "data scans: each LENGTH is followed by its DATA, or by - (or nothing) for none")
            ->type_name("LENGTH [DATA]");
    dr->footer(std::string(SYNTAX) + "\n\n" + EXIT_CODES);

    CLI::App *batch =
        app.add_subcommand("batch", "ir/dr/rti/delay lines from a file, run under one hub lock");
    add_target_options(batch, args);
    batch->add_option("file", args.batch, "batch file; - or none: standard input")
        ->capture_default_str()
        ->type_name("FILE");
    batch->footer(std::string("Lines: ir VALUE [delay N] | dr LENGTH [DATA] [delay N] | rti COUNT | delay N\n"
                              "Keywords in any case; '#' starts a comment.\n") +
                  SYNTAX + "\n\n" + EXIT_CODES);

    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError &error) {
        if (error.get_exit_code() == 0) {
            return app.exit(error) == 0 ? exit_success : exit_usage; // --help, --version
        }
        std::cerr << "sldtool: " << error.what() << "\nRun with --help for more information." << std::endl;
        return exit_usage;
    }

    const bool scanning = ir->parsed() || dr->parsed() || batch->parsed();
    ScanLog log(args.global.log || !args.global.vcd.empty());
    std::unique_ptr<Reporter> reporter;
    std::optional<ToolError> failure;
    std::ofstream vcd;
    try {
        use_source(args.global.source);
        if (!args.global.vcd.empty()) {
            vcd.open(args.global.vcd);
            if (!vcd) {
                throw ToolError(exit_file, "cannot write VCD file \"" + args.global.vcd + "\"");
            }
        }
        args.scan.timeout = lock_timeout(args.timeout);
        if (!scanning) {
            if (log.keeps()) {
                log.start();
            }
            run_list(args, log);
        } else {
            std::vector<Operation> ops;
            BatchText text;
            std::unique_ptr<OperationSource> source;
            if (batch->parsed()) {
                read_batch(args.batch, &text);
                source.reset(new BatchSource(text));
                args.scan.lock = true;
            } else {
                ops =
                    ir->parsed() ? ir_command(args.ir_value) : dr_command(dr_words(dr, dr_ir, dr_scan, args));
                if (ops.front().kind == OpKind::dr) {
                    std::cerr << "sldtool: note: without --ir the scan goes to what the hub selected last; "
                                 "after opening the hub that is the hub itself, not the node\n";
                }
                source.reset(new OperationList(std::move(ops)));
            }
            const std::string command = batch->parsed() ? "batch" : ir->parsed() ? "ir" : "dr";
            reporter = args.global.json
                           ? json_reporter(std::cout, command)
                           : text_reporter(std::cout, batch->parsed() ? TextStyle::batch : TextStyle::scans);
            // Always on for scans: the width of each instruction comes from it.
            log.start();
            run_operations(args.scan, *source, log, *reporter);
        }
    } catch (const ToolError &error) {
        failure = error;
    } catch (const std::bad_alloc &) {
        failure = ToolError(exit_library, "out of memory");
    }
    // A server that was not reached makes the run incomplete, even where
    // the rest of it succeeded (a list of the servers that answered).
    int code = report_unreachable_servers(std::cerr) ? exit_library : exit_success;
    try {
        log.finish();
        if (reporter) {
            reporter->finish(failure ? &*failure : nullptr,
                             args.global.json && args.global.log ? &log.steps() : nullptr);
        }
        if (failure) {
            code = report(*failure);
        }
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

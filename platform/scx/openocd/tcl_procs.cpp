#include "tcl_procs.h"

namespace scxopenocd {
namespace detail {

namespace {

const size_t MAX_WORD = 20000;

// Jim Tcl 0.81 as OpenOCD 0.12 runs it. Globals: ::sldocd_version and
// ::sldocd_until (which version owns the server, until when), and the
// version's own ::sldocd1_lock(KEY) = {owner client}, ::sldocd1_alive(C)
// = lease end of client C in ms, ::sldocd1_ins(TAP) = TAP's instruction,
// ::sldocd1_last = the TAP OpenOCD irscanned last ("" when unknown).
const char *const INSTALL = R"TCL(
if {[info exists ::sldocd_version] && $::sldocd_version ne "1" && [info exists ::sldocd_until] && [clock milliseconds] < $::sldocd_until} {
    set sldocd_r "@SEQ@ V [string range $::sldocd_version 0 15]"
} else {
    set ::sldocd_version 1
    set ::sldocd_until 0
    foreach sldocd_a {sldocd1_lock sldocd1_alive sldocd1_ins} {
        if {![info exists ::$sldocd_a]} { array set ::$sldocd_a {} }
    }
    if {![info exists ::sldocd1_last]} { set ::sldocd1_last "" }
    # Any irscan, ours or another client's, makes the active TAP unknown
    # until ours records it: a drscan on another TAP would abort OpenOCD.
    if {[info commands sldocd1_irscan0] eq ""} {
        rename irscan sldocd1_irscan0
        proc irscan {args} {
            set ::sldocd1_last ""
            tailcall sldocd1_irscan0 {*}$args
        }
    }
    proc sldocd1_after_reset {} { set ::sldocd1_last "" }
    # Renews the client's leases; "" when the procedures of this version
    # own the server, else the "V" answer.
    proc sldocd1_enter {seq p} {
        if {$::sldocd_version ne "1"} { return "$seq V [string range $::sldocd_version 0 15]" }
        set until [expr {[clock milliseconds] + @LEASE@}]
        set ::sldocd1_alive($p) $until
        set ::sldocd_until $until
        return ""
    }
    proc sldocd1_run {p op arglist} {
        if {[catch {sldocd1_op_$op $p {*}$arglist} r]} {
            set r "E [string map [list \x1a ? \n { }] [string range $r 0 255]]"
        }
        return $r
    }
    proc sldocd1_call {seq p op args} {
        set v [sldocd1_enter $seq $p]
        if {$v ne ""} { return $v }
        return "$seq [sldocd1_run $p $op $args]"
    }
    # Held-back calls, each {op args...}, then the message's own call: the
    # first held one that does not answer K ends the run, answered as
    # "H <its answer>"; the own call is then left out, unless it is an
    # unlock, which is always done.
    proc sldocd1_seq {seq p args} {
        set v [sldocd1_enter $seq $p]
        if {$v ne ""} { return $v }
        set last [lindex $args end]
        foreach item [lrange $args 0 end-1] {
            set r [sldocd1_run $p [lindex $item 0] [lrange $item 1 end]]
            if {[string index $r 0] ne "K"} {
                if {[lindex $last 0] eq "unlock"} { sldocd1_run $p unlock [lrange $last 1 end] }
                return "$seq H $r"
            }
        }
        return "$seq [sldocd1_run $p [lindex $last 0] [lrange $last 1 end]]"
    }
    proc sldocd1_free {key owner} {
        if {![info exists ::sldocd1_lock($key)]} { return 1 }
        lassign $::sldocd1_lock($key) o p
        if {$o eq $owner} { return 1 }
        if {[info exists ::sldocd1_alive($p)] && $::sldocd1_alive($p) >= [clock milliseconds]} { return 0 }
        unset ::sldocd1_lock($key)
        return 1
    }
    proc sldocd1_op_nop {p} { return K }
    proc sldocd1_op_listing {p} { return "K [string map [list \x1a ?] [capture scan_chain]]" }
    proc sldocd1_op_chain {p owner} {
        if {![sldocd1_free chain $owner]} { return L }
        sldocd1_op_listing $p
    }
    proc sldocd1_op_lock {p key owner} {
        if {![sldocd1_free $key $owner]} { return L }
        set ::sldocd1_lock($key) [list $owner $p]
        return K
    }
    proc sldocd1_op_unlock {p key owner} {
        if {[info exists ::sldocd1_lock($key)] && [lindex $::sldocd1_lock($key) 0] eq $owner} {
            unset ::sldocd1_lock($key)
            return K
        }
        return N
    }
    proc sldocd1_op_check {p key owner} {
        if {[sldocd1_free $key $owner]} { return K }
        return L
    }
    proc sldocd1_op_release {p} {
        foreach k [array names ::sldocd1_lock] {
            if {[lindex $::sldocd1_lock($k) 1] eq $p} { unset ::sldocd1_lock($k) }
        }
        return K
    }
    proc sldocd1_load {tap ins} {
        set ::sldocd1_last ""
        sldocd1_irscan0 $tap $ins
        set ::sldocd1_last $tap
    }
    # Makes tap the active TAP with its own instruction; 0 when it has none.
    proc sldocd1_ready {tap} {
        if {$::sldocd1_last eq $tap} { return 1 }
        if {![info exists ::sldocd1_ins($tap)]} { return 0 }
        sldocd1_load $tap $::sldocd1_ins($tap)
        return 1
    }
    proc sldocd1_op_ir {p owner tap ins} {
        if {![sldocd1_free d.$tap $owner]} { return L }
        sldocd1_load $tap $ins
        set ::sldocd1_ins($tap) $ins
        return K
    }
    proc sldocd1_op_dr {p owner tap bits value} {
        if {![sldocd1_free d.$tap $owner]} { return L }
        if {![sldocd1_ready $tap]} { return U }
        if {[catch {drscan $tap $bits $value} r]} {
            set ::sldocd1_last ""
            error $r
        }
        return "K $r"
    }
    proc sldocd1_op_dr0 {p owner tap} {
        if {![sldocd1_free d.$tap $owner]} { return L }
        if {![sldocd1_ready $tap]} { return U }
        pathmove RUN/IDLE DRSELECT DRCAPTURE DREXIT1 DRUPDATE RUN/IDLE
        return K
    }
    proc sldocd1_op_rti {p owner tap count} {
        if {![sldocd1_free d.$tap $owner]} { return L }
        runtest $count
        return K
    }
    foreach sldocd_t [jtag names] {
        set sldocd_h [jtag cget $sldocd_t -event post-reset]
        if {[string first sldocd1_after_reset $sldocd_h] < 0} {
            jtag configure $sldocd_t -event post-reset "$sldocd_h\nsldocd1_after_reset"
        }
    }
    sldocd1_op_release @PROC@
    set sldocd_r [sldocd1_call @SEQ@ @PROC@ listing]
}
set sldocd_r
)TCL";

void replace_all(std::string *text, const std::string &from, const std::string &to) {
    for (size_t at = text->find(from); at != std::string::npos; at = text->find(from, at + to.size())) {
        text->replace(at, from.size(), to);
    }
}

} // namespace

bool script_word_is_safe(std::string_view word) {
    if (word.empty() || word.size() > MAX_WORD || word[0] == '-') {
        return false;
    }
    for (char c : word) {
        const bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                        c == '_' || c == '.' || c == '-';
        if (!ok) {
            return false;
        }
    }
    return true;
}

std::string install_script(const std::string &seq, const std::string &client) {
    std::string script = INSTALL;
    if (!script_word_is_safe(seq) || !script_word_is_safe(client)) {
        return "";
    }
    replace_all(&script, "@SEQ@", seq);
    replace_all(&script, "@PROC@", client);
    replace_all(&script, "@LEASE@", std::to_string(LEASE_MS));
    return script;
}

bool call_words(const char *op, std::initializer_list<std::string_view> args, std::string *out) {
    std::string words = op;
    if (!script_word_is_safe(words)) {
        return false;
    }
    for (std::string_view word : args) {
        if (!script_word_is_safe(word)) {
            return false;
        }
        words += ' ';
        words.append(word.data(), word.size());
    }
    *out = std::move(words);
    return true;
}

std::string sequence_script(const std::string &seq, const std::string &client,
                            const std::vector<std::string> &held, const std::string &words) {
    std::string script = "sldocd1_seq " + seq + " " + client;
    for (const std::string &item : held) {
        script += " {" + item + "}";
    }
    return script + " {" + words + "}";
}

} // namespace detail
} // namespace scxopenocd

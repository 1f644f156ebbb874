#include "tcl_procs.h"

namespace scxopenocd {
namespace detail {

namespace {

const size_t MAX_WORD = 20000;

// Jim Tcl 0.81 as OpenOCD 0.12 runs it. Globals: ::sldocd_version and
// ::sldocd_until (which version owns the server, until when), and the
// version's own: ::sldocd2_lock(KEY) = {owner client epoch} for each
// current grant, ::sldocd2_epoch = the last epoch given (it only grows),
// ::sldocd2_wait(KEY) = the waiters in arrival order, each {owner client
// last-asked-ms}, ::sldocd2_alive(C) = lease end of client C in ms,
// ::sldocd2_ins(TAP) = TAP's instruction, ::sldocd2_last = the TAP OpenOCD
// irscanned last ("" when unknown).
const char *const INSTALL = R"TCL(
if {[info exists ::sldocd_version] && $::sldocd_version ne "2" && [info exists ::sldocd_until] && [clock milliseconds] < $::sldocd_until} {
    set sldocd_r "@SEQ@ V [string range $::sldocd_version 0 15]"
} else {
    set ::sldocd_version 2
    set ::sldocd_until 0
    foreach sldocd_a {sldocd2_lock sldocd2_alive sldocd2_ins sldocd2_wait} {
        if {![info exists ::$sldocd_a]} { array set ::$sldocd_a {} }
    }
    if {![info exists ::sldocd2_last]} { set ::sldocd2_last "" }
    if {![info exists ::sldocd2_epoch]} { set ::sldocd2_epoch 0 }
    # Any irscan, ours or another client's, makes the active TAP unknown
    # until ours records it: a drscan on another TAP would abort OpenOCD.
    if {[info commands sldocd2_irscan0] eq ""} {
        rename irscan sldocd2_irscan0
        proc irscan {args} {
            set ::sldocd2_last ""
            tailcall sldocd2_irscan0 {*}$args
        }
    }
    proc sldocd2_after_reset {} { set ::sldocd2_last "" }
    # Ends the caller's grants when its lease has lapsed (before renewing
    # it: a lapsed grant never comes back), then renews the lease. Grants
    # of other clients lapse where they are looked at (sldocd2_holder). ""
    # when the procedures of this version own the server, else the "V"
    # answer.
    proc sldocd2_enter {seq p} {
        if {$::sldocd_version ne "2"} { return "$seq V [string range $::sldocd_version 0 15]" }
        set now [clock milliseconds]
        if {[info exists ::sldocd2_alive($p)] && $::sldocd2_alive($p) < $now} { sldocd2_op_release $p }
        set until [expr {$now + @LEASE@}]
        set ::sldocd2_alive($p) $until
        set ::sldocd_until $until
        return ""
    }
    # The current grant of key as {owner client epoch}, or "" when there is
    # none: a grant whose client's lease lapsed is ended here.
    proc sldocd2_holder {key} {
        if {![info exists ::sldocd2_lock($key)]} { return "" }
        set g $::sldocd2_lock($key)
        set q [lindex $g 1]
        if {[info exists ::sldocd2_alive($q)] && $::sldocd2_alive($q) >= [clock milliseconds]} { return $g }
        unset ::sldocd2_lock($key)
        return ""
    }
    # Drops the waiters of key that stopped asking a lease ago; the waiters
    # left. A key nobody waits for has no entry in ::sldocd2_wait.
    proc sldocd2_prune {key now} {
        if {![info exists ::sldocd2_wait($key)]} { return {} }
        set keep {}
        foreach w $::sldocd2_wait($key) {
            if {[lindex $w 2] + @LEASE@ >= $now} { lappend keep $w }
        }
        sldocd2_set_waiters $key $keep
        return $keep
    }
    proc sldocd2_set_waiters {key list} {
        if {[llength $list]} {
            set ::sldocd2_wait($key) $list
        } elseif {[info exists ::sldocd2_wait($key)]} {
            unset ::sldocd2_wait($key)
        }
    }
    # "W " when somebody waits for a lock the client holds, else "".
    proc sldocd2_wanted {p} {
        if {![array size ::sldocd2_wait]} { return "" }
        foreach k [array names ::sldocd2_wait] {
            if {![info exists ::sldocd2_lock($k)] || [lindex $::sldocd2_lock($k) 1] ne $p} { continue }
            if {[llength [sldocd2_prune $k [clock milliseconds]]]} { return "W " }
        }
        return ""
    }
    proc sldocd2_run {p op arglist} {
        if {[catch {sldocd2_op_$op $p {*}$arglist} r]} {
            set r "E [string map [list \x1a ? \n { }] [string range $r 0 255]]"
        }
        return $r
    }
    proc sldocd2_call {seq p op args} {
        set v [sldocd2_enter $seq $p]
        if {$v ne ""} { return $v }
        set r [sldocd2_run $p $op $args]
        return "$seq [sldocd2_wanted $p]$r"
    }
    # Held-back calls, each {op args...}, then the message's own call: the
    # first held one that does not answer K ends the run, answered as
    # "H <its answer>"; the own call is then left out, unless it is an
    # unlock, which is always done.
    proc sldocd2_seq {seq p args} {
        set v [sldocd2_enter $seq $p]
        if {$v ne ""} { return $v }
        set last [lindex $args end]
        foreach item [lrange $args 0 end-1] {
            set r [sldocd2_run $p [lindex $item 0] [lrange $item 1 end]]
            if {[string index $r 0] ne "K"} {
                if {[lindex $last 0] eq "unlock"} { sldocd2_run $p unlock [lrange $last 1 end] }
                return "$seq [sldocd2_wanted $p]H $r"
            }
        }
        set r [sldocd2_run $p [lindex $last 0] [lrange $last 1 end]]
        return "$seq [sldocd2_wanted $p]$r"
    }
    # Whether owner may use key: with epoch 0, unless another owner holds
    # it ("" or L); with an epoch, only while that very grant is current
    # ("" or F: the grant ended, lapsed, was taken or deleted).
    proc sldocd2_guard {key owner epoch} {
        if {$epoch ne "0"} {
            # The caller's own lease was looked at as its message came in.
            if {[info exists ::sldocd2_lock($key)]} {
                set g $::sldocd2_lock($key)
                if {[lindex $g 0] eq $owner && [lindex $g 2] eq $epoch} { return "" }
            }
            return F
        }
        set g [sldocd2_holder $key]
        if {$g ne "" && [lindex $g 0] ne $owner} { return L }
        return ""
    }
    proc sldocd2_queue {key owner p now} {
        set l {}
        set found 0
        foreach w [sldocd2_prune $key $now] {
            if {[lindex $w 0] eq $owner} {
                set w [list $owner $p $now]
                set found 1
            }
            lappend l $w
        }
        if {!$found} { lappend l [list $owner $p $now] }
        set ::sldocd2_wait($key) $l
    }
    proc sldocd2_op_leave {p key owner} {
        set l {}
        foreach w [sldocd2_prune $key [clock milliseconds]] {
            if {[lindex $w 0] ne $owner} { lappend l $w }
        }
        sldocd2_set_waiters $key $l
        return K
    }
    proc sldocd2_op_nop {p} { return K }
    proc sldocd2_op_listing {p} { return "K [string map [list \x1a ?] [capture scan_chain]]" }
    proc sldocd2_op_chain {p owner} {
        if {[sldocd2_guard chain $owner 0] ne ""} { return L }
        sldocd2_op_listing $p
    }
    # mode w: a waiter, queued in arrival order until granted; t: a single
    # try. A free lock goes to the first waiter still asking.
    proc sldocd2_op_lock {p key owner {mode t}} {
        set now [clock milliseconds]
        set waiting [sldocd2_prune $key $now]
        set g [sldocd2_holder $key]
        if {$g ne ""} {
            lassign $g o q e
            if {$o eq $owner} { return "K $e" }
            if {$mode eq "w"} { sldocd2_queue $key $owner $p $now }
            return L
        }
        set head [lindex $waiting 0]
        if {[llength $head] && [lindex $head 0] ne $owner} {
            if {$mode eq "w"} { sldocd2_queue $key $owner $p $now }
            return L
        }
        sldocd2_op_leave $p $key $owner
        incr ::sldocd2_epoch
        set ::sldocd2_lock($key) [list $owner $p $::sldocd2_epoch]
        return "K $::sldocd2_epoch"
    }
    proc sldocd2_op_unlock {p key owner {epoch 0}} {
        if {[info exists ::sldocd2_lock($key)]} {
            lassign $::sldocd2_lock($key) o q e
            if {$o eq $owner && ($epoch eq "0" || $epoch eq $e)} {
                unset ::sldocd2_lock($key)
                return K
            }
        }
        return N
    }
    proc sldocd2_op_check {p key owner {epoch 0}} {
        set g [sldocd2_guard $key $owner $epoch]
        if {$g eq ""} { return K }
        return $g
    }
    proc sldocd2_op_release {p} {
        foreach k [array names ::sldocd2_lock] {
            if {[lindex $::sldocd2_lock($k) 1] eq $p} { unset ::sldocd2_lock($k) }
        }
        foreach k [array names ::sldocd2_wait] {
            set l {}
            foreach w $::sldocd2_wait($k) {
                if {[lindex $w 1] ne $p} { lappend l $w }
            }
            sldocd2_set_waiters $k $l
        }
        return K
    }
    proc sldocd2_load {tap ins} {
        set ::sldocd2_last ""
        sldocd2_irscan0 $tap $ins
        set ::sldocd2_last $tap
    }
    # Makes tap the active TAP with its own instruction; 0 when it has none.
    proc sldocd2_ready {tap} {
        if {$::sldocd2_last eq $tap} { return 1 }
        if {![info exists ::sldocd2_ins($tap)]} { return 0 }
        sldocd2_load $tap $::sldocd2_ins($tap)
        return 1
    }
    proc sldocd2_op_ir {p owner epoch tap ins} {
        set g [sldocd2_guard d.$tap $owner $epoch]
        if {$g ne ""} { return $g }
        sldocd2_load $tap $ins
        set ::sldocd2_ins($tap) $ins
        return K
    }
    proc sldocd2_op_dr {p owner epoch tap bits value} {
        set g [sldocd2_guard d.$tap $owner $epoch]
        if {$g ne ""} { return $g }
        if {![sldocd2_ready $tap]} { return U }
        if {[catch {drscan $tap $bits $value} r]} {
            set ::sldocd2_last ""
            error $r
        }
        return "K $r"
    }
    proc sldocd2_op_dr0 {p owner epoch tap} {
        set g [sldocd2_guard d.$tap $owner $epoch]
        if {$g ne ""} { return $g }
        if {![sldocd2_ready $tap]} { return U }
        pathmove RUN/IDLE DRSELECT DRCAPTURE DREXIT1 DRUPDATE RUN/IDLE
        return K
    }
    proc sldocd2_op_rti {p owner epoch tap count} {
        set g [sldocd2_guard d.$tap $owner $epoch]
        if {$g ne ""} { return $g }
        runtest $count
        return K
    }
    foreach sldocd_t [jtag names] {
        set sldocd_h [jtag cget $sldocd_t -event post-reset]
        if {[string first sldocd2_after_reset $sldocd_h] < 0} {
            jtag configure $sldocd_t -event post-reset "$sldocd_h\nsldocd2_after_reset"
        }
    }
    sldocd2_op_release @PROC@
    set sldocd_r [sldocd2_call @SEQ@ @PROC@ listing]
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
    std::string script = std::string(SEQUENCE_PROC) + " " + seq + " " + client;
    for (const std::string &item : held) {
        script += " {" + item + "}";
    }
    return script + " {" + words + "}";
}

} // namespace detail
} // namespace scxopenocd

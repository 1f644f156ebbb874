# bash completion of sldtool's commands and options. They are read from the
# tool's own --help each time (it answers without touching any hardware),
# so the completion never falls out of step with the tool it completes.

# The commands: the "Subcommands:" block of the top-level help.
_sldtool_commands() {
    "$1" --help 2>/dev/null | sed -n '/^Subcommands:/,/^$/s/^  \([a-z][a-z]*\) .*/\1/p'
}

# The options of one help text: the first word of each "  -x,--name" line.
_sldtool_options() {
    sed -n 's/^  \(-[^ ]*\).*/\1/p' | tr ',' '\n'
}

_sldtool() {
    local cur=${COMP_WORDS[COMP_CWORD]} prev=""
    ((COMP_CWORD > 0)) && prev=${COMP_WORDS[COMP_CWORD - 1]}
    local tool=${COMP_WORDS[0]/#\~/$HOME}
    COMPREPLY=()

    case $prev in
    --board | --vcd)
        compopt -o filenames 2>/dev/null
        mapfile -t COMPREPLY < <(compgen -f -- "$cur")
        return
        ;;
    --openocd | -c | --cable | -d | --device | -n | --node | --timeout | --ir)
        return # a value only the user knows
        ;;
    esac

    local commands command="" word i
    commands=$(_sldtool_commands "$tool")
    for ((i = 1; i < COMP_CWORD; ++i)); do
        for word in $commands; do
            [[ ${COMP_WORDS[i]} == "$word" ]] && command=$word
        done
        [[ -n $command ]] && break
    done

    if [[ $cur == -* ]]; then
        # Global options stand before the command or after it.
        local options
        options=$("$tool" --help 2>/dev/null | _sldtool_options)
        if [[ -n $command ]]; then
            options+=$'\n'$("$tool" "$command" --help 2>/dev/null | _sldtool_options)
        fi
        mapfile -t COMPREPLY < <(compgen -W "$options" -- "$cur" | sort -u)
    elif [[ -z $command ]]; then
        mapfile -t COMPREPLY < <(compgen -W "$commands" -- "$cur")
    elif [[ $command == batch ]]; then
        compopt -o filenames 2>/dev/null
        mapfile -t COMPREPLY < <(compgen -f -- "$cur")
    fi
}

complete -F _sldtool sldtool

# fish completion for drovik: commands, options, option values, files, and
# the sections and keys of the FILE on the line. Names come from
# `drovik __complete`, which never asks for a password and never writes.

function __drovik_commands
    $argv[1] --help 2>/dev/null | awk '/^Commands:/ { listed = 1; next }
                                       listed && NF == 0 { exit }
                                       listed { print $1 }'
end

# The options of command $argv[2] from its --help; with "values", only those that take a value.
function __drovik_options
    $argv[1] $argv[2] --help 2>/dev/null | awk -v only="$argv[3]" '
        /^Options:/ { listed = 1; next }
        /^[^ ]/ { listed = 0 }
        listed && /^ +-/ {
            for (i = 1; i <= NF; i++) {
                word = $i; sub(/,$/, "", word)
                if (word !~ /^--[a-z]/) continue
                if (only != "values" || $(i + 1) ~ /^</) print word
            }
        }'
end

function __drovik_candidates
    set -l tokens (commandline -opc)
    set -l cur (commandline -ct)
    set -l drovik $tokens[1]
    set -l command
    set -l file
    set -l valued
    set -l positional 0
    set -l skip 0
    set -l dashes 0
    set -l after
    for word in $tokens[2..-1]
        if test $dashes -gt 0
            set -a after $word
        else if test $skip -gt 0
            set skip 0
        else if test "$word" = -- -a -n "$command"
            set dashes 1
        else if string match -q -- '-*' $word
            contains -- $word $valued; and set skip 1
        else if test -z "$command"
            set command $word
            set valued (__drovik_options $drovik $command values)
        else if test -z "$file"
            set file $word
        else
            set positional (math $positional + 1)
        end
    end

    if test -z "$command"
        if string match -q -- '-*' $cur
            printf '%s\n' --help --version
        else
            __drovik_commands $drovik
        end
        return
    end
    # exec: the program to run, then its own arguments.
    if test $dashes -gt 0
        __fish_complete_subcommand --commandline $after $cur
        return
    end
    if test $skip -gt 0
        switch $tokens[-1]
            case --type
                printf '%s\n' string int double bool list
            case --section
                test -n "$file"; and $drovik __complete sections $file 2>/dev/null
            case --key
                test -n "$file"; and $drovik __complete keys $file 2>/dev/null
            case '*-file'
                __fish_complete_path $cur
        end
        return
    end
    if string match -q -- '-*' $cur
        __drovik_options $drovik $command
        test "$command" = exec -a -n "$file"; and echo --
        return
    end
    if test -z "$file"
        if test "$command" = help
            __drovik_commands $drovik
        else
            __fish_complete_path $cur
        end
        return
    end
    switch $command
        case get set
            test $positional -eq 0; and $drovik __complete keys $file 2>/dev/null
        case del
            $drovik __complete keys $file 2>/dev/null
        case list
            test $positional -eq 0; and $drovik __complete sections $file 2>/dev/null
        case del-section exec
            $drovik __complete sections $file 2>/dev/null
        case apply
            test $positional -eq 0; and __fish_complete_path $cur
    end
end

complete -c drovik -f -a '(__drovik_candidates)'

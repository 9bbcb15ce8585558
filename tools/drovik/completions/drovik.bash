# bash completion for drovik: commands, options, option values, files, and
# the sections and keys of the FILE on the line. Names come from
# `drovik __complete`, which never asks for a password and never writes.

# Commands as `drovik --help` lists them.
_drovik_commands()
{
    "$1" --help 2>/dev/null | awk '/^Commands:/ { listed = 1; next }
                                   listed && NF == 0 { exit }
                                   listed { print $1 }'
}

# The options of command $2 from its --help; with "values", only those that take a value.
_drovik_options()
{
    "$1" "$2" --help 2>/dev/null | awk -v only="$3" '
        /^Options:/ { listed = 1; next }
        /^[^ ]/ { listed = 0 }
        listed && /^ +-/ {
            for (i = 1; i <= NF; i++) {
                word = $i; sub(/,$/, "", word)
                if (word !~ /^--[a-z]/) continue
                if (only != "values" || $(i + 1) ~ /^</) print word
            }
        }'
}

# Adds the lines of standard input that begin with $1 to COMPREPLY (fed by
# redirection: a pipe would run it in a subshell, and COMPREPLY would stay empty).
_drovik_add()
{
    local line
    while IFS= read -r line; do
        [[ $line == "$1"* ]] && COMPREPLY+=("$line")
    done
}

# Sections or keys of the FILE on the line (the caller's $drovik and $file).
_drovik_names()
{
    [[ -n $file ]] && _drovik_add "$2" < <("$drovik" __complete "$1" "$file" 2>/dev/null)
}

_drovik_files()
{
    compopt -o filenames 2>/dev/null
    local IFS=$'\n'
    COMPREPLY+=($(compgen -f -- "$1"))
}

_drovik()
{
    COMPREPLY=()
    local cur=${COMP_WORDS[COMP_CWORD]}
    local drovik=${COMP_WORDS[0]:-drovik}
    local command= file= valued= word after= i
    local -i positional=0 skip=0 dashes=0
    for ((i = 1; i < COMP_CWORD; i++)); do
        word=${COMP_WORDS[i]}
        if ((dashes)); then
            after+=x
        elif ((skip)); then
            skip=0
        elif [[ $word == -- && -n $command ]]; then
            dashes=1
        elif [[ $word == -* ]]; then
            [[ " $valued " == *" $word "* ]] && skip=1
        elif [[ -z $command ]]; then
            command=$word
            valued=$(_drovik_options "$drovik" "$command" values | tr '\n' ' ')
        elif [[ -z $file ]]; then
            file=$word
        else
            positional+=1
        fi
    done

    if [[ -z $command ]]; then
        if [[ $cur == -* ]]; then
            _drovik_add "$cur" < <(printf '%s\n' --help --version)
        else
            _drovik_add "$cur" < <(_drovik_commands "$drovik")
        fi
        return 0
    fi
    # exec: the program to run, then its own arguments.
    if ((dashes)); then
        if [[ -z $after ]]; then
            _drovik_add "$cur" < <(compgen -c -- "$cur" | sort -u)
        else
            _drovik_files "$cur"
        fi
        return 0
    fi
    if ((skip)); then
        case ${COMP_WORDS[COMP_CWORD - 1]} in
        --type) _drovik_add "$cur" < <(printf '%s\n' string int double bool list) ;;
        --section) _drovik_names sections "$cur" ;;
        --key) _drovik_names keys "$cur" ;;
        *-file) _drovik_files "$cur" ;;
        esac
        return 0
    fi
    if [[ $cur == -* ]]; then
        _drovik_add "$cur" < <(_drovik_options "$drovik" "$command")
        [[ $command == exec && -n $file && -- == "$cur"* ]] && COMPREPLY+=(--)
        return 0
    fi
    if [[ -z $file ]]; then
        if [[ $command == help ]]; then
            _drovik_add "$cur" < <(_drovik_commands "$drovik")
        else
            _drovik_files "$cur"
        fi
        return 0
    fi
    case $command in
    get | set) ((positional == 0)) && _drovik_names keys "$cur" ;;
    del) _drovik_names keys "$cur" ;;
    list) ((positional == 0)) && _drovik_names sections "$cur" ;;
    del-section | exec) _drovik_names sections "$cur" ;;
    apply) ((positional == 0)) && _drovik_files "$cur" ;;
    esac
    return 0
}

complete -F _drovik drovik

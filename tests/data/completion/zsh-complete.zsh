# zsh -f zsh-complete.zsh DIR LINE: drives a real interactive zsh through a
# pseudo-terminal, with the completion functions of DIR on fpath: types LINE and
# a tab, and prints every match the completion system added, one per line. The
# tab's widget prints a mark when it is done, so this waits on output rather
# than on time, however slowly the shell starts.
zmodload zsh/zpty
zpty z zsh -f -i
zpty -w z "PS1=''; fpath=($1 \$fpath); autoload -Uz compinit; compinit -u -D"
zpty -w z 'compadd() { local -a f; builtin compadd -O f "$@"; print -rl -- ${f/#/${(U):-hit}:} >&2; builtin compadd "$@" }'
zpty -w z '_tab() { _main_complete; print -r -- ${(U):-done}: >&2 }; zle -C tab complete-word _tab; bindkey "^I" tab'
zpty -w -n z "$2"$'\t'
zpty -r z out '*DONE:*'
print -r -- ${out//$'\r'} | grep -ao 'HIT:[^[:space:]]*' | cut -c5-

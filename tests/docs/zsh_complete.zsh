#!/usr/bin/env zsh
# Types a line into a new interactive zsh whose fpath holds the completion
# folder, presses Tab once, and prints the words the completion system
# offered, one a line.
#
#   zsh_complete.zsh FOLDER LINE
zmodload zsh/zpty
folder=$1 line=$2
zpty vellumo zsh -f -i
# Every word that reaches compadd is printed; the end of the completion is
# marked. The markers are split in the typed text, whose echo comes back
# from the terminal too.
zpty -w vellumo "PS1=''; fpath=(${(q)folder} \$fpath); autoload -Uz compinit; compinit -u -D"
zpty -w vellumo 'compadd() { if (( ${argv[(I)-(O|A|D)]} )); then builtin compadd "$@"; return; fi;'\
' local -a offered; builtin compadd -O offered "$@"; print -rl -- "@@""offer "${^offered};'\
' builtin compadd "$@"; }'
zpty -w vellumo 'vellumo_end() { print -r -- "@@""end"; }; comppostfuncs=(vellumo_end)'
zpty -w -n vellumo "$line"$'\t'
zpty -r -m vellumo output '*@@end*' || { print -u2 "zsh did not finish completing: $output"; exit 1; }
zpty -d vellumo
for l in ${(f)output//$'\r'/}; do
  [[ $l == *@@offer\ * ]] && print -r -- ${l##*@@offer }
done
exit 0

# shellcheck shell=bash
# Loads the bash completion script $1 and defines `offered LINE`: the words
# it offers, one a line, for the last word of LINE, as bash drives it on
# Tab (the function that `complete -p` names, with COMP_WORDS and
# COMP_CWORD set, read back from COMPREPLY).
# shellcheck source=/dev/null
source "$1"
completer=$(complete -p vellumo-cli | sed -n 's/.*-F \([^ ]*\).*/\1/p')
[ -n "$completer" ] || { echo "$1 registers no completion for vellumo-cli" >&2; exit 1; }

offered() {
  local -a COMP_WORDS COMPREPLY
  local COMP_CWORD COMP_LINE=$1 COMP_POINT=${#1}
  read -ra COMP_WORDS <<<"$1"
  [[ $1 == *' ' ]] && COMP_WORDS+=("")
  COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
  "$completer" vellumo-cli "${COMP_WORDS[COMP_CWORD]}" "${COMP_WORDS[COMP_CWORD - 1]}"
  if [ ${#COMPREPLY[@]} -gt 0 ]; then printf '%s\n' "${COMPREPLY[@]}"; fi
}

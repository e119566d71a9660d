# bash completion for tapestamp                              -*- shell-script -*-
#
# Completes the options, long and short, file names for the DV file operands, the output
# files and the split prefix, and the names of the subtitle and recordings formats. The
# values of -f, -b, -n and --clock-offset are free text: nothing is offered for them.
# Works inside the bash-completion framework and, with plain bash, on its own.

_tapestamp() {
  local cur prev
  local -a words
  local cword
  if declare -F _init_completion >/dev/null 2>&1; then
    # -s splits "--option=value" into the option and the value being completed.
    _init_completion -s || return
  else
    words=("${COMP_WORDS[@]}")
    cword=$COMP_CWORD
    cur=${words[cword]}
    prev=${words[cword - 1]}
    # Plain bash splits "--option=value" at the "=" into three words.
    if [[ $cur == = ]]; then
      cur=
    elif [[ $prev == = && cword -ge 2 ]]; then
      prev=${words[cword - 2]}
    fi
  fi

  case $prev in
    --info-out | --subtitles-out | --recordings-out | --split)
      _tapestamp_files
      return
      ;;
    --subtitles-format)
      mapfile -t COMPREPLY < <(compgen -W 'microdvd srt vtt ass' -- "$cur")
      return
      ;;
    --recordings-format)
      mapfile -t COMPREPLY < <(compgen -W 'text csv json ffmetadata matroska vtt' -- "$cur")
      return
      ;;
    -f | --time-format | -b | --boundary | -n | --max-frames | --clock-offset)
      COMPREPLY=()
      return
      ;;
  esac

  # After "--" every word is a file operand.
  local i
  for ((i = 1; i < cword; i++)); do
    if [[ ${words[i]} == -- ]]; then
      _tapestamp_files
      return
    fi
  done

  if [[ $cur == -* ]]; then
    local options='-i --info --info-out --ssyb-dump --vaux-dump -s --subtitles
      --subtitles-out -f --time-format -b --boundary -n --max-frames -d --date1 --no-mmap
      -p --pass-through -v --verbose -h --help -V --version --subtitles-format
      --clock-offset --recordings --recordings-out --recordings-format --split'
    mapfile -t COMPREPLY < <(compgen -W "$options" -- "$cur")
    return
  fi
  _tapestamp_files
}

# Offers the file and directory names that start with the current word.
_tapestamp_files() {
  if declare -F _filedir >/dev/null 2>&1; then
    _filedir
  else
    compopt -o filenames 2>/dev/null
    mapfile -t COMPREPLY < <(compgen -f -- "$cur")
  fi
}

complete -F _tapestamp tapestamp

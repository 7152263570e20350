#!/usr/bin/env bash
# The desktop programs open the display they are given before Qt starts. One
# that is missing or does not open is one line in the interface language and
# exit status 2, never Qt's abort.
#   display_check_test.sh WORK_DIR UPDATER DEMO
set -uo pipefail
work=$1 demo=$3
mkdir -p "$work"
failed=0
clean=(env -u DISPLAY -u WAYLAND_DISPLAY -u WAYLAND_SOCKET -u QT_QPA_PLATFORM -u XDG_SESSION_TYPE
  -u LANGUAGE -u LC_ALL -u LC_MESSAGES XDG_RUNTIME_DIR="$work")
languages=(en_US.UTF-8 zh_CN.UTF-8) separators=(': ' '：')
none=('the window needs a display, and neither DISPLAY nor WAYLAND_DISPLAY is set; tarvik-update-cli updates controllers without one'
  '窗口需要图形显示，但 DISPLAY 和 WAYLAND_DISPLAY 均未设置；tarvik-update-cli 无需图形显示即可更新手柄')
cannot=('the window cannot open the display it was given (%s); tarvik-update-cli updates controllers without one'
  '窗口无法打开指定的图形显示（%s）；tarvik-update-cli 无需图形显示即可更新手柄')
# The settings and arguments given | the displays the line names (none: no display at all)
cases=('|' 'DISPLAY=:42|DISPLAY=:42' '-platform xcb|' 'DISPLAY=:42 -platform xcb -display :43|-display :43'
  'WAYLAND_DISPLAY=absent DISPLAY=:42|WAYLAND_DISPLAY=absent, DISPLAY=:42' 'QT_QPA_PLATFORM=wayland|WAYLAND_DISPLAY=wayland-0')
for program in "$2" "$demo"; do
  for l in 0 1; do
    for case in "${cases[@]}"; do
      read -ra words <<<"${case%%|*}"
      settings=()
      while [[ ${words[0]:-} == *=* ]]; do settings+=("${words[0]}"); words=("${words[@]:1}"); done
      line=${none[l]}
      [[ -z ${case#*|} ]] || line=$(printf "${cannot[l]}" "${case#*|}")
      said=$("${clean[@]}" LANG="${languages[l]}" "${settings[@]}" "$program" "${words[@]}" 2>&1)
      status=$?
      expected="$(basename "$program")${separators[l]}$line"
      [[ $status == 2 && $said == "$expected" ]] ||
        { echo "display check: ${case%%|*} (${languages[l]}): status $status, \"$said\", not \"$expected\"" >&2; failed=1; }
    done
  done
done

# A display that opens is taken, also where Wayland, tried first, is not there.
# The window shows on it, or the program ends: whichever comes first, within
# 60 s. One that shows its window is stopped then, and ends by the signal (143).
# -noreset: the program leaves the server once before Qt comes, and a server
# that resets then refuses Qt.
for setting in XDG_SESSION_TYPE=x11 WAYLAND_DISPLAY=absent; do
  status=$("${clean[@]}" "$setting" xvfb-run -a -s '-noreset' sh -c '"$0" --simulate none >/dev/null 2>&1 &
    for _ in $(seq 600); do
      xwininfo -root -tree 2>/dev/null | grep -q "Tarvik Update" && break
      kill -0 $! 2>/dev/null || break
      sleep 0.1
    done
    kill $! 2>/dev/null; wait $!; echo $?' "$demo" 2>/dev/null)
  [[ $status == 143 ]] || { echo "display check: a display that opens was not taken ($setting): $status" >&2; failed=1; }
done
((failed == 0)) && echo "display check: a missing display told in one line, in English and Chinese; one that opens taken"

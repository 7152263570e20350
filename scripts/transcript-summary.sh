#!/usr/bin/env bash
# A short human account of an update from its transcript (tarvik-update-cli
# --transcript): the window's title, the image picked, the confirmation and
# its answer, the progress in steps of 10 %, the controller leaving, the final
# message or, without one, the window's title at the end, and a boot-mode
# controller restarting after its reset.
#   scripts/transcript-summary.sh TRANSCRIPT
# Reads the transcript's JSON lines with awk alone (no JSON tool needed).
set -euo pipefail
exec awk '
  # The value of string field `key` of this line, with its escapes undone.
  function field(key,    rest, value, c) {
    if (!match($0, "\"" key "\":\"")) return ""
    rest = substr($0, RSTART + RLENGTH)
    value = ""
    while (length(rest) > 0) {
      c = substr(rest, 1, 1)
      if (c == "\"") break
      if (c == "\\") {
        c = substr(rest, 2, 1)
        rest = substr(rest, 2)
        if (c == "n" || c == "r" || c == "t") c = " "
      }
      value = value c
      rest = substr(rest, 2)
    }
    gsub(/  +/, " ", value)
    gsub(/^ | $/, "", value)
    return value
  }
  function number(key) {
    return match($0, "\"" key "\":-?[0-9]+") ? substr($0, RSTART + length(key) + 3, RLENGTH - length(key) - 3) + 0 : 0
  }
  /"ev":"title"/ { title = field("text") }
  # A boot-mode controller leaves the bus at its reset (command 7) to start its new firmware.
  /"ev":"out"/ && picked && field("hex") ~ /^000507/ { reset = 1 }
  /"ev":"device"/ && picked && number("event") == 32772 {  # removal
    if (reset) restarted = 1
    else gone = 1
  }
  /"ev":"filedialog"/ {
    picked = 1
    start_title = title
    if (title != "") print "Window:       " title
    image = field("answer")
    print "Image picked: " (image == "" ? "(none: the dialog was cancelled)" : image)
  }
  /"ev":"msgbox"/ {
    text = field("text")
    if (boxes++ == 0 && field("buttons") == "okcancel") {
      print "Confirmation: \"" text "\" -> " (field("answer") == "ok" ? "OK" : "Cancel")
    } else {
      last = text
    }
  }
  /"ev":"range"/ { high = number("hi"); low = number("lo") }
  /"ev":"progress"/ {
    if (high <= low) next
    percent = int((number("pos") - low) * 100 / (high - low))
    if (percent >= next_step + 10) {
      while (percent >= next_step + 10) next_step += 10
      steps = steps (steps == "" ? "" : " ") next_step "%"
      started = 1
    }
  }
  END {
    if (started) print "Progress:     " steps
    if (gone) print "Controller:   left the bus during the update"
    if (last != "") print "Message:      \"" last "\""
    else if (picked && title != start_title) print "Window now:   " title
    if (restarted) print "Controller:   restarted after its reset (left the bus)"
  }
' "$1"

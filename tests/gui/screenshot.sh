#!/bin/sh
# Saves the top-left WxH of the X screen as a PNG: screenshot.sh OUTPUT WxH.
# Written under a temporary name and renamed, so a waiting reader sees it whole.
set -e
import -window root -crop "$2+0+0" +repage "$1.part.png"
mv "$1.part.png" "$1"

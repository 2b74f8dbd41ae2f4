#!/bin/sh
# Restarts the pedal controller into its bootloader. The ATmega32u4's USB serial port
# resets the chip into the bootloader when it is opened at 1200 baud and closed again.
# Usage: sh modo.sh COM7:   (the port name the configuration program uses, with a colon)
# COMn stands for ${TKB_SERIAL_PREFIX}n, /dev/ttyACMn unless the variable says otherwise.
set -u

port=${1:-}
port=${port%:}
number=${port#COM}
case "$number" in
  ''|*[!0-9]*)
    echo "modo.sh: expected a port name like COM7:, got '${1:-}'" >&2
    exit 2
    ;;
esac

device="${TKB_SERIAL_PREFIX:-/dev/ttyACM}$number"
if [ ! -e "$device" ]; then
  echo "modo.sh: $device does not exist" >&2
  exit 1
fi

# stty opens the port, sets 1200 baud and closes it: the touch itself.
exec stty -F "$device" 1200

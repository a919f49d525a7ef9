#!/usr/bin/env bash
# Stops the one-node cluster that scripts/slurm-start.sh started in FOLDER:
# cancels its jobs (so no job step outlives the daemons), then ends slurmd,
# slurmctld and munged by the process ids in their pid files. Processes that
# are not that cluster's (a pid reused since) are left alone. Safe to run on
# a folder where nothing runs.
set -uo pipefail
shopt -s extglob

if (($# != 1)); then
  echo "usage: $0 FOLDER" >&2
  exit 2
fi
dir=$(cd "$1" 2>/dev/null && pwd) || exit 0
export SLURM_CONF=$dir/slurm.conf

# The pid in FILE when it is a live PROGRAM started for this folder.
ours() {
  local file=$1 program=$2 pid
  [[ -f $file ]] || return 1
  pid=$(tr -dc 0-9 <"$file")
  [[ -n $pid && -r /proc/$pid/cmdline ]] || return 1
  # Debian installs the daemons as alternatives: /usr/sbin/slurmd-wlm.
  [[ $(basename "$(readlink "/proc/$pid/exe" 2>/dev/null)") == @("$program"|"$program"-wlm) ]] || return 1
  # slurmctld and slurmd know the folder through SLURM_CONF, munged through
  # its options.
  if [[ $program == munged ]]; then
    tr '\0' ' ' <"/proc/$pid/cmdline" | grep -qF -- "$dir/" || return 1
  else
    tr '\0' '\n' <"/proc/$pid/environ" 2>/dev/null | grep -qxF -- "SLURM_CONF=$dir/slurm.conf" || return 1
  fi
  echo "$pid"
}

stop() {
  local pid
  pid=$(ours "$1" "$2") || return 0
  kill -TERM "$pid" 2>/dev/null
  for _ in $(seq 100); do
    kill -0 "$pid" 2>/dev/null || return 0
    sleep 0.1
  done
  echo "$2 ($pid) did not end on TERM; killing it." >&2
  kill -KILL "$pid" 2>/dev/null
}

if ours "$dir/slurmctld.pid" slurmctld >/dev/null; then
  jobs=$(squeue -h -o %F 2>/dev/null | sort -u)
  if [[ -n $jobs ]]; then
    # shellcheck disable=SC2086
    scancel $jobs 2>/dev/null
    for _ in $(seq 60); do
      [[ -z $(squeue -h -o %F 2>/dev/null) ]] && break
      sleep 0.5
    done
  fi
fi

stop "$dir/slurmd.pid" slurmd
stop "$dir/slurmctld.pid" slurmctld
stop "$dir/munge/munged.pid" munged
exit 0

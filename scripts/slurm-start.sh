#!/usr/bin/env bash
# Starts a one-node Slurm cluster on loopback, as plain processes (no init
# system needed), with everything it keeps in FOLDER: a munge daemon with its
# own key and socket, slurmctld and slurmd. Run as root on Debian 12; the
# packages are installed when missing. Prints the line to source for the
# client commands (also written to FOLDER/env) once the node is idle.
#
#   bash scripts/slurm-start.sh /tmp/cluster   # then: . /tmp/cluster/env
#   bash scripts/slurm-stop.sh /tmp/cluster
#
# Starting again in the same folder first stops what an earlier start left
# running there and throws its state away (job ids, drained nodes), so every
# start gives a pristine cluster. Ports are the first free pair from 6817 up,
# so several clusters (one per test run) can live on one machine.
set -euo pipefail

if (($# != 1)); then
  echo "usage: $0 FOLDER" >&2
  exit 2
fi
scripts=$(cd "$(dirname "$0")" && pwd)
mkdir -p "$1"
dir=$(cd "$1" && pwd)

# A munge socket path must fit a sockaddr_un (108 bytes).
if ((${#dir} > 80)); then
  echo "$dir: the path is too long for the munge socket; use a shorter folder (e.g. under /tmp)." >&2
  exit 2
fi

missing=0
for program in munged mungekey slurmctld slurmd sbatch; do
  command -v "$program" >/dev/null || missing=1
done
if ((missing)); then
  bash "$scripts/install-deps.sh" >&2
fi

bash "$scripts/slurm-stop.sh" "$dir" >/dev/null 2>&1 || true
rm -rf "$dir/state" "$dir/spool" "$dir/log" "$dir/munge" "$dir/slurm.conf" "$dir/env"
mkdir -p "$dir/state" "$dir/spool" "$dir/log" "$dir/munge"
# munged runs as its own user and must reach its folder through ours.
chmod 755 "$dir"
chown munge:munge "$dir/munge"
chmod 755 "$dir/munge"

# munge: a key of this cluster's own, a socket in the folder.
socket=$dir/munge/munge.socket
runuser -u munge -- mungekey --create --keyfile="$dir/munge/munge.key" >/dev/null
runuser -u munge -- munged --socket="$socket" --key-file="$dir/munge/munge.key" \
  --pid-file="$dir/munge/munged.pid" --log-file="$dir/munge/munged.log" --seed-file="$dir/munge/munged.seed"
if ! munge -S "$socket" -n | unmunge -S "$socket" >/dev/null; then
  echo "munged does not answer on $socket (see $dir/munge/munged.log)." >&2
  exit 1
fi

port_free() {
  ! (exec 3<>"/dev/tcp/127.0.0.1/$1") 2>/dev/null
}

# slurmctld only runs on the host its configuration names; the node may be
# called anything, as slurmd is told its name.
host=$(hostname -s)
node=skelvane-node
read -r cpus memory < <(slurmd -C | sed -n 's/.*CPUs=\([0-9]*\).*RealMemory=\([0-9]*\).*/\1 \2/p')

# Choosing the ports and binding them happen under one machine-wide lock, so
# two clusters starting at once do not pick the same pair.
exec 9>/tmp/skelvane-slurm-ports.lock
flock 9
port=6817
until port_free "$port" && port_free $((port + 1)); do
  port=$((port + 2))
  if ((port > 7817)); then
    echo "No free pair of ports between 6817 and 7817." >&2
    exit 1
  fi
done

cat >"$dir/slurm.conf" <<EOF
ClusterName=skelvane
SlurmctldHost=$host(127.0.0.1)
SlurmctldPort=$port
SlurmdPort=$((port + 1))
SlurmUser=root
SlurmdUser=root
AuthType=auth/munge
CredType=cred/munge
AuthInfo=socket=$socket
ProctrackType=proctrack/linuxproc
TaskPlugin=task/none
JobAcctGatherType=jobacct_gather/none
AccountingStorageType=accounting_storage/none
SelectType=select/cons_tres
SelectTypeParameters=CR_CPU_Memory
DefMemPerCPU=$((memory / cpus))
ReturnToService=2
MailProg=/bin/true
# An array's tasks start when it is submitted, not at the next scheduling
# pass up to 3 seconds later (the default delay suits sites that take
# thousands of submissions a minute, not one node running a test).
SchedulerParameters=batch_sched_delay=0
MaxArraySize=100001
StateSaveLocation=$dir/state
SlurmdSpoolDir=$dir/spool
SlurmctldPidFile=$dir/slurmctld.pid
SlurmdPidFile=$dir/slurmd.pid
SlurmctldLogFile=$dir/log/slurmctld.log
SlurmdLogFile=$dir/log/slurmd.log
NodeName=$node NodeAddr=127.0.0.1 CPUs=$cpus RealMemory=$memory State=UNKNOWN
PartitionName=farm Nodes=$node Default=YES MaxTime=INFINITE State=UP
EOF
printf 'export SLURM_CONF=%q\n' "$dir/slurm.conf" >"$dir/env"
export SLURM_CONF=$dir/slurm.conf

# Both fork into the background once they are listening, or fail here.
if ! slurmctld -c || ! slurmd -N "$node"; then
  echo "Slurm did not start; see $dir/log/." >&2
  bash "$scripts/slurm-stop.sh" "$dir"
  exit 1
fi
flock -u 9

# The node reports in within seconds; a node that stays down names its
# reason in the logs.
deadline=$((SECONDS + 60))
while ((SECONDS < deadline)); do
  state=$(timeout 5 sinfo -h -n "$node" -o %T 2>/dev/null || true)
  if [[ $state == idle ]]; then
    cat "$dir/env"
    exit 0
  fi
  sleep 0.5
done
echo "The node did not become idle (state: ${state:-unknown}); see $dir/log/." >&2
timeout 5 sinfo -R >&2 || true
bash "$scripts/slurm-stop.sh" "$dir"
exit 1

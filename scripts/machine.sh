# Sourced by the project's scripts: the one place that decides which Windows
# builds this machine can run under Wine. Some x86-64 machines have no IA-32
# compatibility mode: there every 32-bit ELF fails with "Exec format error",
# so wine32 cannot start, while 64-bit Wine works. The kernel's name and
# version say nothing reliable about that, so a tiny program of each kind is
# started and must exit with a known code.
#
#   teldial_machine_runs ARCH     true when ARCH (i686 or x86_64) executes here
#   teldial_machine_why_not ARCH  why it does not, one line
#   teldial_runnable_arches       the runnable ones, the primary (i686) first
#   teldial_chosen_arch           the one a script should run (see below)
#
# The answers are kept in the environment, so nested scripts probe only once.

teldial_machine_top=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)

# VALUE as WIDTH little-endian bytes, written as printf escapes.
teldial_le() {
  local width=$1 value=$2 i
  for ((i = 0; i < width; i++)); do printf '\\x%02x' $(((value >> (8 * i)) & 255)); done
}

# An ELF executable of one segment that only calls exit(42), for i686
# (int 0x80, exit is 1) or x86_64 (syscall, exit is 60).
teldial_probe_image() {
  local arch=$1 code base ident header segment
  if [ "$arch" = i686 ]; then
    code='\xbb\x2a\x00\x00\x00\xb8\x01\x00\x00\x00\xcd\x80'  # mov ebx,42; mov eax,1; int 0x80
    base=$((0x08048000))
    ident='\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00'
    header="$(teldial_le 2 2)$(teldial_le 2 3)$(teldial_le 4 1)$(teldial_le 4 $((base + 84)))$(teldial_le 4 52)"
    header+="$(teldial_le 4 0)$(teldial_le 4 0)$(teldial_le 2 52)$(teldial_le 2 32)$(teldial_le 2 1)$(teldial_le 6 0)"
    segment="$(teldial_le 4 1)$(teldial_le 4 0)$(teldial_le 4 "$base")$(teldial_le 4 "$base")"
    segment+="$(teldial_le 4 96)$(teldial_le 4 96)$(teldial_le 4 5)$(teldial_le 4 4096)"
  else
    code='\xbf\x2a\x00\x00\x00\xb8\x3c\x00\x00\x00\x0f\x05'  # mov edi,42; mov eax,60; syscall
    base=$((0x400000))
    ident='\x7fELF\x02\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00'
    header="$(teldial_le 2 2)$(teldial_le 2 62)$(teldial_le 4 1)$(teldial_le 8 $((base + 120)))$(teldial_le 8 64)"
    header+="$(teldial_le 8 0)$(teldial_le 4 0)$(teldial_le 2 64)$(teldial_le 2 56)$(teldial_le 2 1)$(teldial_le 6 0)"
    segment="$(teldial_le 4 1)$(teldial_le 4 5)$(teldial_le 8 0)$(teldial_le 8 "$base")$(teldial_le 8 "$base")"
    segment+="$(teldial_le 8 132)$(teldial_le 8 132)$(teldial_le 8 4096)"
  fi
  printf "$ident$header$segment$code"
}

# Sets TELDIAL_RUNS_<ARCH> to yes or to the reason it is no.
teldial_probe() {
  local arch=$1 variable="TELDIAL_RUNS_${1^^}"
  [ -n "${!variable:-}" ] && return 0
  # The project's own folder: a temporary folder may be mounted without
  # execution, which would read as a processor that cannot run the code.
  local folder="$teldial_machine_top/build/probe" verdict
  mkdir -p "$folder"
  local program
  program=$(mktemp "$folder/$arch.XXXXXX")
  teldial_probe_image "$arch" > "$program"
  chmod +x "$program"
  local output status
  output=$("$program" 2>&1)
  status=$?
  rm -f "$program"
  if [ "$status" -eq 42 ] && [ "$arch" = i686 ] && [ ! -x /usr/lib/wine/wine ]; then
    verdict="the 32-bit Wine (wine32:i386) is not installed: scripts/setup could not get it"
  elif [ "$status" -eq 42 ]; then
    verdict=yes
  else
    output=$(printf '%s' "$output" | tail -n 1 | sed 's/^.*: //')
    verdict="a tiny $arch program could not run here (${output:-exit code $status})"
  fi
  printf -v "$variable" '%s' "$verdict"
  export "${variable?}"
}

teldial_machine_runs() {
  local variable="TELDIAL_RUNS_${1^^}"
  teldial_probe "$1"
  [ "${!variable}" = yes ]
}

teldial_machine_why_not() {
  local variable="TELDIAL_RUNS_${1^^}"
  teldial_probe "$1"
  if [ "$1" = i686 ] && [ "${!variable}" != "${!variable#the 32-bit Wine}" ]; then
    echo "${!variable}"
  elif [ "$1" = i686 ]; then
    echo "this machine executes no 32-bit x86 code: ${!variable}, so the 32-bit Wine cannot start"
  else
    echo "this machine executes no 64-bit x86 code: ${!variable}, so the 64-bit Wine cannot start"
  fi
}

teldial_runnable_arches() {
  local arch
  for arch in i686 x86_64; do
    teldial_machine_runs "$arch" && printf '%s\n' "$arch"
  done
  return 0
}

# The build a script runs when it runs one: TELDIAL_ARCH when set, otherwise
# the first this machine runs. Prints nothing, with the reason on standard
# error, when that cannot run here.
teldial_chosen_arch() {
  local arch=${TELDIAL_ARCH:-} runnable
  if [ -z "$arch" ]; then
    runnable=$(teldial_runnable_arches)
    arch=${runnable%%$'\n'*}
  fi
  if [ -z "$arch" ]; then
    echo "neither build can run on this machine: $(teldial_machine_why_not i686); $(teldial_machine_why_not x86_64)" >&2
    return 1
  fi
  if ! teldial_machine_runs "$arch"; then
    echo "the $arch programs cannot run here: $(teldial_machine_why_not "$arch")" >&2
    return 1
  fi
  echo "$arch"
}

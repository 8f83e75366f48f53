# How this machine runs 32-bit x86 programs. Sourced by scripts/test (bash)
# and scripts/bench (sh), so it keeps to POSIX sh:
#
#   . "$root/scripts/lib/i386.sh"
#   i386_emulated && echo "qemu-i386 runs them"
#   i386_runs && echo "a 32-bit program runs here, one way or the other"

# A tiny -m32 program built and run: true when it ran and returned its status.
# (A subshell, so that its variables stay its own without `local`.)
i386_runs() (
  dir=$(mktemp -d) || return 1
  printf 'int main() { return 7; }\n' >"$dir/probe.c"
  gcc -m32 "$dir/probe.c" -o "$dir/probe" 2>/dev/null || { rm -rf "$dir"; return 1; }
  "$dir/probe" 2>/dev/null
  rc=$?
  rm -rf "$dir"
  [ "$rc" -eq 7 ]
)

# qemu-i386 registered and enabled with binfmt_misc: it then takes every
# 32-bit program, whether or not the kernel could run it itself.
i386_emulated() { grep -qs '^enabled' /proc/sys/fs/binfmt_misc/qemu-i386; }

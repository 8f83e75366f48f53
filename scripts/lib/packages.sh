# Debian packages for the scripts, installed once and only when missing.
# Sourced by scripts/test, scripts/demo and scripts/fuzz:
#
#   source "$ROOT/scripts/lib/packages.sh"
#   install_packages cmake g++ wine32:i386 ...
#
# A name with an architecture (name:i386) adds that architecture to dpkg
# first. Without root the commands go through sudo, which asks for a
# password only on a terminal (sudo -n otherwise, which fails instead). Prints what it installs; returns non-zero when anything fails.

# The packages of the list that dpkg does not have installed, one a line.
missing_packages() {
  local p
  for p in "$@"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || printf '%s\n' "$p"
  done
}

install_packages() {
  local missing=() p
  while IFS= read -r p; do missing+=("$p"); done < <(missing_packages "$@")
  [ ${#missing[@]} -eq 0 ] && return 0
  printf '  installing: %s\n' "${missing[*]}"
  local sudo=()
  if [ "$(id -u)" -ne 0 ]; then
    if [ -t 0 ]; then sudo=(sudo); else sudo=(sudo -n); fi
  fi
  local arch
  for arch in $(printf '%s\n' "${missing[@]}" | sed -n 's/^[^:]*:\(.*\)$/\1/p' | sort -u); do
    [ "$arch" = "$(dpkg --print-architecture)" ] && continue
    dpkg --print-foreign-architectures | grep -qx "$arch" || "${sudo[@]}" dpkg --add-architecture "$arch" || return 1
  done
  local log rc=0
  log=$(mktemp) || return 1
  { "${sudo[@]}" apt-get update -qq &&
    "${sudo[@]}" env DEBIAN_FRONTEND=noninteractive \
      apt-get install -y -qq --no-install-recommends "${missing[@]}" </dev/null; } >"$log" 2>&1 || rc=$?
  [ "$rc" -eq 0 ] || tail -n 30 "$log" >&2
  rm -f "$log"
  return "$rc"
}

# True when apt-get would install the packages without removing any: a
# package of another architecture can conflict with an installed one.
coinstallable() {
  local plan
  plan=$(apt-get install -s -qq --no-install-recommends "$@" 2>/dev/null) || return 1
  ! grep -q '^Remv ' <<<"$plan"
}

# Sourced by the scripts that make a Debian root: apt_uri SUITE prints the
# first mirror this machine's apt uses for SUITE, from one-line entries
# ("deb URI SUITE ...") and deb822 stanzas ("URIs:" and "Suites:" fields)
# alike; nothing when no source serves it.
apt_uri() { # suite
  {
    [ -f /etc/apt/sources.list ] && grep -h '^deb ' /etc/apt/sources.list
    ls /etc/apt/sources.list.d/*.list >/dev/null 2>&1 && grep -h '^deb ' /etc/apt/sources.list.d/*.list
    ls /etc/apt/sources.list.d/*.sources >/dev/null 2>&1 &&
      awk '/^URIs:/ { u = $2 } /^Suites:/ { for (i = 2; i <= NF; ++i) print "deb", u, $i }
           /^$/ { u = "" }' /etc/apt/sources.list.d/*.sources
    true # a kind of source this machine lacks is no failure
  } | sed 's/\[[^]]*\] *//' | awk -v s="$1" '$1 == "deb" && $3 == s { print $2; exit }'
}

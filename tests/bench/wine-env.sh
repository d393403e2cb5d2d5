# Sourced: the Wine settings every run of the bench uses. No debug chatter,
# no Mono or Gecko installers, no menu entries written to the host, and our
# PowerShell stand-in rather than Wine's built-in stub of the same name.
export WINEDEBUG=-all
# PIVRA_EXTRA_DLLOVERRIDES comes first for a test that needs more: Wine takes
# the overrides from the Unix environment a process starts with, so they
# can't be set from inside a Windows program for its children.
export WINEDLLOVERRIDES="${PIVRA_EXTRA_DLLOVERRIDES:+$PIVRA_EXTRA_DLLOVERRIDES;}mscoree,mshtml=;winemenubuilder.exe=d;powershell.exe=n"

# Sourced: the Wine settings every run of the bench uses. No debug chatter,
# no Mono or Gecko installers, no menu entries written to the host, and our
# PowerShell stand-in rather than Wine's built-in stub of the same name.
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d;powershell.exe=n"

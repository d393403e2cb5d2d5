# Sourced: the Wine settings every run of the bench uses. No debug chatter,
# no Mono or Gecko installers, and no menu entries written to the host.
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"

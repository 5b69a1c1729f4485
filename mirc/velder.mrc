; velder.mrc - Quake 4 server status in mIRC through velder.dll
;
; Written for mIRC 7.x; it needs 6.32 or later, whose DLL buffer holds the
; longest answer (about 2,700 characters).
;
; Put velder.dll (the 32-bit one) in the same folder as this script and load
; it with  /load -rs velder.mrc
;
;   /q4info host:port                        name, map, game type and players
;   /q4watch host:port [#channel|@window] [seconds]
;                                            check the server every few seconds
;                                            (60 unless told) and say what
;                                            changed: map, players joining and
;                                            leaving, server down or back
;   /q4watch off [host:port]                 stop watching one server or all
;   $q4active                                $true while the Quake 4 console
;                                            window is open on this machine
;
; Server text is kept inert. Whatever a game server sends (names, clans,
; variables) can hold $, %, commas, brackets or spaces chosen by whoever runs
; that server. mIRC evaluates a line once, so text that sits in a variable is
; passed on as plain text; it would only run as code if the line around it
; were evaluated a second time. This script never does that: no evaluation
; brackets anywhere (literal brackets are written $chr(91) and $chr(93)), no
; $eval or $(), no /scon or /scid, no /timer whose command holds a variable,
; and no command whose name comes from a variable. The one timer runs a fixed
; alias name; the servers it polls are looked up in a hash table. GetInfo
; itself turns every unprintable byte into a divider or an escape, so no
; control character (no line break) can reach /msg either.
;
; Why $dll and not $dllcall: $dllcall runs the DLL on another thread, but
; mIRC then calls the given alias with nothing but the DLL's file name; the
; text a function hands back is dropped. GetInfo answers only through that
; text, so it is called with $dll, which holds mIRC for the host name lookup
; plus at most 650 ms. /q4watch therefore asks at most one server per second.
;
; GetInfo's answer, as this script reads it:
;   0012            four digits: the round-trip time in milliseconds
;   server part     the server's variables as fields: si_name, its value,
;                   si_map, its value, ... (after a few header fields)
;   $chr(254)       only when the player section was reached: GetInfo reads
;                   the first 900 bytes of the reply, and a long variable
;                   list (a map cycle) can fill them
;   players         three fields per player: ping, name, clan
;   $chr(254)       only from servers that run on Windows; servers on Linux
;                   end their reply differently, so a missing closing mark
;                   does not mean anything was lost
; Fields are divided by $chr(255). Quake colour codes are already removed. An
; empty clan arrives as one space, but an empty variable value or a name that
; was only colour codes arrives as an empty field, and $gettok skips empty
; fields: every later field would move up by one. So before splitting, each
; pair of adjacent dividers gets a space put between them.
; "9999" alone means the port was refused (closed) or the reply could not be read;
; no text, or the address itself, means no answer.

; Where the DLL lives: beside this script.
alias -l velder.file {
  return $scriptdir $+ velder.dll
}

; $velder.address(<text>) - $true for host:port: a host name or IPv4 address
; shorter than 1024 characters, one colon and a port from 1 to 65535. No
; spaces and no wildcards, so that the address can name hash table items.
alias -l velder.address {
  if ($count($1, $chr(58)) != 1) || ($left($1, 1) == $chr(58)) { return $false }
  if ($chr(32) isin $1) || ($chr(42) isin $1) || ($chr(63) isin $1) { return $false }
  if ($len($gettok($1, 1, 58)) >= 1024) { return $false }
  var %port = $gettok($1, 2, 58)
  if (%port !isnum 1-65535) || ($chr(46) isin %port) { return $false }
  return $true
}

; $velder.outcome(<answer>, <address>) - answered, unreadable or silent.
alias -l velder.outcome {
  if ($1 == $null) || ($1 === $2) { return silent }
  if ($1 === 9999) { return unreadable }
  return answered
}

; $velder.section(<answer>, server|players) - one section of an answer, with
; every empty field made visible as a single space. Two rounds of $replace
; are enough for any run of dividers: the first fills every other gap.
alias -l velder.section {
  var %body = $mid($1, 5)
  var %body = $replace(%body, $chr(255) $+ $chr(255), $chr(255) $chr(255))
  var %body = $replace(%body, $chr(255) $+ $chr(255), $chr(255) $chr(255))
  if ($2 == server) { return $gettok(%body, 1, 254) }
  if ($count(%body, $chr(254)) == 0) { return }
  return $gettok(%body, 2, 254)
}

; $velder.listed(<answer>) - how much of the player list the answer holds:
; complete; none (the 900 bytes ended before it); or partial (they ended
; inside it: a player with fewer than three fields, or no closing divider).
alias -l velder.listed {
  var %marks = $count($mid($1, 5), $chr(254))
  if (%marks == 0) { return none }
  if (%marks > 1) { return complete }
  var %players = $velder.section($1, players)
  if (%players == $null) { return complete }
  if ($right(%players, 1) != $chr(255)) { return partial }
  if ($calc($numtok(%players, 255) % 3) != 0) { return partial }
  return complete
}

; $velder.var(<server part>, <variable>) - the value that follows a
; variable's name; an empty value gives $null.
alias -l velder.var {
  var %at = $findtok($1, $2, 1, 255)
  if (!%at) { return }
  return $gettok($1, $calc(%at + 1), 255)
}

; $velder.names(<players section>) - the players' names divided by
; $chr(255), leaving out names that were only colour codes.
alias -l velder.names {
  var %names, %i = 2, %fields = $numtok($1, 255)
  while (%i <= %fields) {
    var %name = $gettok($1, %i, 255)
    if ($len(%name) > 0) && (%name != $chr(32)) { var %names = $addtok(%names, %name, 255) }
    inc %i 3
  }
  return %names
}

alias q4info {
  if (!$velder.address($1)) {
    echo -ac info * /q4info: give the server as host:port, for example /q4info 127.0.0.1:28004
    return
  }
  if (!$isfile($velder.file)) {
    echo -ac info * /q4info: $velder.file is missing
    return
  }
  var %address = $1
  var %answer = $dll($velder.file, GetInfo, %address)
  var %outcome = $velder.outcome(%answer, %address)
  if (%outcome == silent) {
    echo -ac info * %address did not answer (no such host, or no reply within 650 ms)
    return
  }
  if (%outcome == unreadable) {
    echo -ac info * %address gave no readable reply (a closed port, or a reply that could not be read)
    return
  }

  var %ping = $calc($left(%answer, 4))
  var %server = $velder.section(%answer, server)
  var %players = $velder.section(%answer, players)
  var %listed = $velder.listed(%answer)
  var %name = $velder.var(%server, si_name)
  var %map = $velder.var(%server, si_map)
  var %type = $velder.var(%server, si_gameType)
  var %max = $velder.var(%server, si_maxPlayers)
  var %fields = $numtok(%players, 255)
  var %count = $iif(%listed == none, ?, $int($calc(%fields / 3)))
  echo -a $chr(2) $+ %name $+ $chr(2) $+($chr(40), %address, $chr(41)) - %map - %type - %count $+ / $+ %max players - %ping ms

  var %i = 1
  while (%i <= %fields) {
    var %pping = $gettok(%players, %i, 255)
    var %pname = $gettok(%players, $calc(%i + 1), 255)
    var %pclan = $gettok(%players, $calc(%i + 2), 255)
    if (%pname == $null) || (%pname == $chr(32)) { var %pname = (no name) }
    if (%pclan == $null) || (%pclan == $chr(32)) { echo -a - %pname $+($chr(40), %pping, $chr(32), ms, $chr(41)) }
    else { echo -a - %pname $+($chr(91), %pclan, $chr(93)) $+($chr(40), %pping, $chr(32), ms, $chr(41)) }
    inc %i 3
  }
  if (%listed == none) {
    echo -ac info * no player list: the server's variables filled the 900 bytes that are read
  }
  elseif (%listed == partial) {
    echo -ac info * the player list may be incomplete: the 900 bytes that are read ended inside it
  }
}

; $q4active - $true while the Quake 4 console window is open on this machine.
; IsQuakeActive does not read its argument text; any text will do.
alias q4active {
  if (!$isfile($velder.file)) { return $false }
  return $iif($dll($velder.file, IsQuakeActive, probe) == TRUE, $true, $false)
}

; --- /q4watch -----------------------------------------------------------
; Hash table q4watch: one item per watched server, named by its address,
; holding "where seconds due" (due in $ctime). Hash table q4watch.last keeps
; what the last answer said: <address>.up, .map, .names and .known (set once
; a whole player list has been seen).

alias q4watch {
  if ($1 == off) {
    if ($2 != $null) {
      if ($hget(q4watch, $2) == $null) { echo -ac info * /q4watch: $2 is not watched | return }
      hdel q4watch $2
      if ($hget(q4watch.last)) { hdel -w q4watch.last $2 $+ .* }
      echo -ac info * /q4watch: no longer watching $2
    }
    else {
      if ($hget(q4watch)) { hfree q4watch }
      if ($hget(q4watch.last)) { hfree q4watch.last }
      echo -ac info * /q4watch: stopped
    }
    if (!$hget(q4watch, 0).item) { .timerq4watch off }
    return
  }
  if (!$velder.address($1)) {
    echo -ac info * /q4watch: give the server as host:port, for example /q4watch 127.0.0.1:28004 #clan 60
    return
  }
  if (!$isfile($velder.file)) {
    echo -ac info * /q4watch: $velder.file is missing
    return
  }
  ; Where to say it: a channel, an @window, or (neither given) the active window.
  var %where = -, %seconds = 60
  if ($left($2, 1) isin $+($chr(35), $chr(38), @)) && ($len($2) > 1) { var %where = $2 }
  if ($2 isnum) { var %seconds = $2 }
  elseif ($3 isnum) { var %seconds = $3 }
  if (%seconds !isnum 15-86400) || (. isin %seconds) {
    echo -ac info * /q4watch: give the interval in whole seconds from 15 to 86400
    return
  }
  hadd -m q4watch $1 %where %seconds 0
  if ($hget(q4watch.last)) { hdel -w q4watch.last $1 $+ .* }
  if ($left(%where, 1) == @) && (!$window(%where)) { window -n %where }
  echo -ac info * /q4watch: watching $1 every %seconds seconds
  if (!$timer(q4watch)) { .timerq4watch 0 1 q4watch.tick }
}

; Runs every second: asks the first server that is due, and only that one,
; so that mIRC is never held for more than one query at a time.
alias q4watch.tick {
  var %i = 1, %n = $hget(q4watch, 0).item
  while (%i <= %n) {
    var %address = $hget(q4watch, %i).item
    if ($gettok($hget(q4watch, %address), 3, 32) <= $ctime) {
      q4watch.poll %address
      return
    }
    inc %i
  }
}

; Asks one watched server and says what changed since the last answer:
; at most three lines per answer, each cut to 400 characters.
alias -l q4watch.poll {
  var %address = $1, %entry = $hget(q4watch, $1)
  var %where = $gettok(%entry, 1, 32), %seconds = $gettok(%entry, 2, 32)
  hadd q4watch %address %where %seconds $calc($ctime + %seconds)

  var %answer = $dll($velder.file, GetInfo, %address)
  var %outcome = $velder.outcome(%answer, %address)
  var %was = $hget(q4watch.last, %address $+ .up)
  if (%outcome != answered) {
    if (%was != down) {
      q4watch.say %where Quake 4 %address is down: $iif(%outcome == silent, no answer, its reply could not be read)
    }
    hadd -m q4watch.last %address $+ .up down
    return
  }
  hadd -m q4watch.last %address $+ .up up

  var %server = $velder.section(%answer, server)
  var %map = $velder.var(%server, si_map)
  var %name = $velder.var(%server, si_name)
  var %listed = $velder.listed(%answer)
  var %names = $velder.names($velder.section(%answer, players))
  var %count = $iif(%listed == none, ?, $numtok(%names, 255))
  if (%was != up) {
    ; First answer, or back after being down: one line with the whole picture.
    q4watch.say %where Quake 4 %address $iif(%was == down, is back:, is up:) %name - %map - %count players
    hadd q4watch.last %address $+ .map %map
    if (%listed == complete) { q4watch.keep %address %names }
    return
  }
  if (%map != $hget(q4watch.last, %address $+ .map)) {
    q4watch.say %where Quake 4 %address map is now %map
    hadd q4watch.last %address $+ .map %map
  }
  ; Joins and leaves only from answers that hold the whole player list.
  if (%listed != complete) { return }
  if (!$hget(q4watch.last, %address $+ .known)) {
    q4watch.keep %address %names
    return
  }
  var %old = $hget(q4watch.last, %address $+ .names)
  var %joined, %left, %i = 1
  while (%i <= $numtok(%names, 255)) {
    var %one = $gettok(%names, %i, 255)
    if (!$findtokcs(%old, %one, 1, 255)) { var %joined = $addtok(%joined, %one, 255) }
    inc %i
  }
  var %i = 1
  while (%i <= $numtok(%old, 255)) {
    var %one = $gettok(%old, %i, 255)
    if (!$findtokcs(%names, %one, 1, 255)) { var %left = $addtok(%left, %one, 255) }
    inc %i
  }
  if (%joined != $null) { q4watch.say %where Quake 4 %address joined: $replace(%joined, $chr(255), $+($chr(44), $chr(32))) }
  if (%left != $null) { q4watch.say %where Quake 4 %address left: $replace(%left, $chr(255), $+($chr(44), $chr(32))) }
  q4watch.keep %address %names
}

; q4watch.keep <address> [names] - remembers the player list of an answer.
alias -l q4watch.keep {
  hadd -m q4watch.last $1 $+ .known 1
  if ($2- == $null) { hdel -w q4watch.last $1 $+ .names }
  else { hadd q4watch.last $1 $+ .names $2- }
}

; q4watch.say <where> <text> - a channel gets a message, an @window or "-"
; (the active window) an echo.
alias -l q4watch.say {
  var %text = $left($2-, 400)
  if ($1 == -) { echo -a %text }
  elseif ($left($1, 1) == @) { echo $1 %text }
  else { msg $1 %text }
}

on *:UNLOAD: {
  .timerq4watch off
  if ($hget(q4watch)) { hfree q4watch }
  if ($hget(q4watch.last)) { hfree q4watch.last }
}

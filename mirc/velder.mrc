; velder.mrc - Quake 4 server status in mIRC through velder-async.dll
;
; Written for mIRC 7.x; works from 6.2 on. Put velder-async.dll and
; velder.dll (the 32-bit ones) in the same folder as this script, and the
; 64-bit ones in x64\ beside it for a 64-bit host ($bits 64, as in AdiIRC's
; 64-bit build), and load it with  /load -rs velder.mrc
;
;   /q4info host:port                        name, map, game type and players
;   /q4watch host:port [#channel|@window] [seconds]
;                                            check the server every few seconds
;                                            (60 unless told) and say what
;                                            changed: map, players joining and
;                                            leaving, server down or back
;   /q4watch off [host:port]                 stop watching one server or all
;   /q4browse [-a] file                      a server browser in @q4browse for
;                                            a file of host:port lines: most
;                                            players first, then by ping;
;                                            empty servers only with -a; its
;                                            menu shows players, watches,
;                                            copies the address, joins,
;                                            sorts by players, ping, name
;                                            or map
;   /q4browse [-a] -m [-f] [master[:port]]   the same for the servers masters
;                                            list (master.quakehub.net and
;                                            q4master.idsoftware.com unless
;                                            told; several divided by commas;
;                                            port 27650 unless told); a list
;                                            is used again for five minutes
;                                            unless -f is given
;   /q4browse -r                             ask the same servers again
;   /q4find text                             players of the last browse whose
;                                            name holds the text
;   /q4game path                             where Quake4.exe is, for Join
;   /q4join host:port                        run the game with +connect
;   $q4active                                $true while the Quake 4 console
;                                            window is open on this machine
;   $q4getinfo(host:port)                    GetInfo's answer, asked while
;                                            mIRC waits (6.32 and later only)
;
; Nothing here makes mIRC wait for a server. QueryStart in velder-async.dll
; returns a ticket at once and asks the server on a thread of its own; when
; the answer is in, the DLL sends mIRC "/signal q4velder <ticket>" and the
; SIGNAL event below fetches it with QueryResult. A timer also fetches
; tickets older than ten seconds, in case mIRC was too busy to take a
; signal. Why not $dllcall: mIRC would call back with only the DLL's name
; and drop the text a function returns, where the answer is.
;
; Each watch remembers the connection it was made on (its connection id and
; network). Its timer runs whether or not that connection is up; lines for a
; channel wait in one queue, which sends one line every two seconds (IRC
; servers disconnect a client that sends faster for long: "Excess Flood"),
; and only once that connection, or a new one to the same network, is
; connected and in the channel. The queue keeps at most 60 lines.
;
; Server text is kept inert. Whatever a game server sends (names, clans,
; variables) can hold $, %, commas, brackets or spaces chosen by whoever runs
; that server. mIRC evaluates a line once, so text that sits in a variable is
; passed on as plain text; it would only run as code if the line around it
; were evaluated a second time. This script never does that: no evaluation
; brackets anywhere (literal brackets are written $chr(91) and $chr(93)), no
; $eval or $(), /scid only to switch connection (never with a command), no
; /timer whose command holds a variable, no $read without its n switch, and
; no command whose name comes from a variable. The timers run fixed alias
; names; what they work on is looked up in hash tables. GetInfo itself turns
; every unprintable byte into a divider or an escape, so no control
; character (no line break) can reach /msg either. Every /var is -n: /var
; would otherwise compute a value that reads "number operator number", so a
; server named "24 / 7" would show as 3.428571.
;
; GetInfo's answer, as this script reads it:
;   0012            four digits: the round-trip time in milliseconds
;   server part     the server's variables as fields: si_name, its value,
;                   si_map, its value, ... (after a few header fields)
;   $chr(254)       only when the player section was reached: GetInfo reads
;                   the first 900 bytes of the reply, and a long variable
;                   list (a map cycle) can fill them
;   players         three fields per player: ping, name, clan
;   $chr(254)       present when the reply ends with the bytes 20 01 00 00 00;
;                   its absence loses nothing
; Fields are divided by $chr(255). Quake colour codes are already removed. An
; empty clan arrives as one space, but an empty variable value or a name that
; was only colour codes arrives as an empty field, and $gettok skips empty
; fields: every later field would move up by one. So before splitting, each
; pair of adjacent dividers gets a space put between them.
; "9999" alone means the port was refused (closed) or the reply could not be read;
; no text, or the address itself, means no answer.

; Where the DLLs live: beside this script, or in x64\ beside it where the
; host is a 64-bit program, which loads only 64-bit DLLs.
alias -l velder.dir {
  return $scriptdir $+ $iif($bits == 64, x64\)
}

alias -l velder.file {
  return $velder.dir $+ velder.dll
}

; $velder.address(<text>) - $true for host:port: a host name or IPv4 address
; shorter than 1024 characters, one colon and a port from 1 to 65535. No
; spaces and no wildcards, so that the address can name hash table items.
alias -l velder.address {
  if ($count($1, $chr(58)) != 1) || ($left($1, 1) == $chr(58)) { return $false }
  if ($chr(32) isin $1) || ($chr(42) isin $1) || ($chr(63) isin $1) { return $false }
  if ($len($gettok($1, 1, 58)) >= 1024) { return $false }
  var -n %port = $gettok($1, 2, 58)
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
; every empty field made visible as a single space. The server part is the
; variables, names and values in turn: what follows the reply's head, which
; is "infoResponse" between dividers and then four bytes of challenge and
; four of protocol, one character each (23 in all). Two rounds of $replace
; are enough for any run of dividers: the first fills every other gap.
alias -l velder.section {
  var -n %body = $mid($1, 5)
  if ($2 == server) {
    if ($left(%body, 15) != $+($chr(255), $chr(255), infoResponse, $chr(255))) { return }
    ; The space keeps the first token from being empty, which $gettok would skip.
    var -n %body = $mid($gettok($chr(32) $+ $mid(%body, 24), 1, 254), 2)
  }
  elseif ($count(%body, $chr(254)) == 0) { return }
  else { var -n %body = $gettok(%body, 2, 254) }
  var -n %body = $replace(%body, $chr(255) $+ $chr(255), $chr(255) $chr(255))
  return $replace(%body, $chr(255) $+ $chr(255), $chr(255) $chr(255))
}

; $velder.listed(<answer>) - how much of the player list the answer holds,
; in the words of `velder info --json`: complete (also where the tool says
; open: whole players, no closing mark); not_reached (the 900 bytes ended
; before it); or cut (they ended inside it: a player with fewer than three
; fields, or no closing divider); or unreadable: the last variable's value
; was empty, so its name is left without one, and the zero byte that closes
; the variables was taken for the first byte of the players, which are
; then read one byte off.
alias -l velder.listed {
  var -n %marks = $count($mid($1, 5), $chr(254))
  if (%marks == 0) { return not_reached }
  if ($calc($numtok($velder.section($1, server), 255) % 2)) { return unreadable }
  if (%marks > 1) { return complete }
  var -n %players = $velder.section($1, players)
  if (%players == $null) { return complete }
  if ($right(%players, 1) != $chr(255)) { return cut }
  if ($calc($numtok(%players, 255) % 3) != 0) { return cut }
  return complete
}

; $velder.var(<server part>, <variable>) - the value that follows a
; variable's name. Names and values alternate from the first field: names
; sit at every second field. Only those fields are compared, case included,
; so a value that reads like a name is never taken for one. An empty value
; gives one space; a last name without its value gives nothing.
alias -l velder.var {
  var -n %at = 1, %n = $numtok($1, 255)
  while (%at < %n) {
    if ($gettok($1, %at, 255) === $2) { return $gettok($1, $calc(%at + 1), 255) }
    inc %at 2
  }
}

; $velder.names(<players section>) - the players' names divided by
; $chr(255), leaving out names that were only colour codes.
alias -l velder.names {
  var -n %names, %i = 2, %fields = $numtok($1, 255)
  while (%i <= %fields) {
    var -n %name = $gettok($1, %i, 255)
    if ($len(%name) > 0) && (%name != $chr(32)) { var -n %names = $addtok(%names, %name, 255) }
    inc %i 3
  }
  return %names
}

alias -l velder.async {
  return $velder.dir $+ velder-async.dll
}

; q4.out <info|-> <text> - a line for the user, in the info colour or plain:
; in the active window, unless that is the browser's list (as after a click
; on its menu), whose lines are its servers: then in @q4velder.
alias -l q4.out {
  if ($active != @q4browse) {
    if ($1 == info) { echo -ac info $2- }
    else { echo -a $2- }
    return
  }
  if (!$window(@q4velder)) { window @q4velder }
  if ($1 == info) { echo -c info @q4velder $2- }
  else { echo @q4velder $2- }
}

; --- asking in the background ---------------------------------------------
; Hash table q4velder.tickets: one item per ticket, "purpose address ctime
; [line]", purpose info, watch, browse or list (address: the master's).

; $q4.ask(<purpose>, <address>[, <line>]) - a ticket, or the DLL's refusal:
; busy (16 queries run), full (64 answers not fetched), malformed, failed.
alias -l q4.ask {
  var -n %ticket = $dll($velder.async, QueryStart, q4velder $2)
  if (%ticket isnum) {
    hadd -m q4velder.tickets %ticket $1 $2 $ctime $3
    q4.timer
  }
  return %ticket
}

; The one timer: runs every second, whether or not any connection is up.
alias -l q4.timer {
  if (!$timer(q4velder)) { .timerq4velder -o 0 1 q4velder.tick }
}

on *:SIGNAL:q4velder: {
  if ($1 isnum) { q4.collect $1 }
}

; q4.collect <ticket> - fetches the answer of one of this script's tickets
; and hands it on. The answer goes on only as an identifier's argument,
; which mIRC passes as it is.
alias -l q4.collect {
  var -n %job = $hget(q4velder.tickets, $1)
  if (%job == $null) { return }
  var -n %purpose = $gettok(%job, 1, 32), %address = $gettok(%job, 2, 32)
  ; A list's answer is the DLL's own: a count or a word, never server text.
  if (%purpose == list) { var -n %answer = $dll($velder.async, ListResult, $1) }
  else { var -n %answer = $dll($velder.async, QueryResult, $1) }
  if (%answer === pending) { return }
  hdel q4velder.tickets $1
  if (%purpose == watch) && ($hget(q4watch.last, %address $+ .ticket) == $1) {
    hdel q4watch.last %address $+ .ticket
  }
  if (%answer === unknown) { return }
  if (%purpose == info) { noop $q4info.show(%address, %answer) }
  elseif (%purpose == watch) { noop $q4watch.answer(%address, %answer) }
  elseif (%purpose == browse) { noop $q4browse.answer(%address, %answer, $gettok(%job, 4, 32)) }
  elseif (%purpose == list) { q4browse.listed %address $gettok(%job, 4, 32) %answer }
}

; Every second: watches that are due, servers waiting in /q4browse, lines
; waiting for a channel, and tickets whose signal did not come in ten seconds.
alias q4velder.tick {
  q4watch.due
  q4browse.pump
  q4browse.draw
  q4say.tick
  var -n %i = $hget(q4velder.tickets, 0).item
  while (%i >= 1) {
    var -n %ticket = $hget(q4velder.tickets, %i).item
    if ($calc($ctime - $gettok($hget(q4velder.tickets, %ticket), 3, 32)) >= 10) { q4.collect %ticket }
    dec %i
  }
  if (!$hget(q4watch, 0).item) && (!$hget(q4velder.tickets, 0).item) && (!$q4say.waiting) && (!$q4browse.busy) {
    .timerq4velder off
  }
}

; --- /q4info -----------------------------------------------------------

alias q4info {
  if (!$velder.address($1)) {
    q4.out info * /q4info: give the server as host:port, for example /q4info 127.0.0.1:28004
    return
  }
  if (!$isfile($velder.async)) {
    q4.out info * /q4info: $velder.async is missing
    return
  }
  var -n %ticket = $q4.ask(info, $1)
  if (%ticket !isnum) { q4.out info * /q4info: $1 not asked: %ticket }
}

; $q4info.show(<address>, <answer>)
alias -l q4info.show {
  var -n %address = $1, %answer = $2
  var -n %outcome = $velder.outcome(%answer, %address)
  if (%outcome == silent) {
    q4.out info * %address did not answer (no such host, or no reply within 650 ms)
    return
  }
  if (%outcome == unreadable) {
    q4.out info * %address gave no readable reply (a closed port, or a reply that could not be read)
    return
  }

  var -n %ping = $calc($left(%answer, 4))
  var -n %server = $velder.section(%answer, server)
  var -n %players = $velder.section(%answer, players)
  var -n %listed = $velder.listed(%answer)
  var -n %name = $velder.var(%server, si_name)
  var -n %map = $velder.var(%server, si_map)
  var -n %type = $velder.var(%server, si_gameType)
  var -n %max = $velder.var(%server, si_maxPlayers)
  var -n %fields = $iif(%listed == unreadable, 0, $numtok(%players, 255))
  var -n %count = $iif($istok(not_reached unreadable, %listed, 32), ?, $int($calc(%fields / 3)))
  q4.out - $chr(2) $+ %name $+ $chr(2) $+($chr(40), %address, $chr(41)) - %map - %type - %count $+ / $+ %max players - %ping ms

  var -n %i = 1
  while (%i <= %fields) {
    var -n %pping = $gettok(%players, %i, 255)
    var -n %pname = $gettok(%players, $calc(%i + 1), 255)
    var -n %pclan = $gettok(%players, $calc(%i + 2), 255)
    if (%pname == $null) || (%pname == $chr(32)) { var -n %pname = (no name) }
    if (%pclan == $null) || (%pclan == $chr(32)) { q4.out - - %pname $+($chr(40), %pping, $chr(32), ms, $chr(41)) }
    else { q4.out - - %pname $+($chr(91), %pclan, $chr(93)) $+($chr(40), %pping, $chr(32), ms, $chr(41)) }
    inc %i 3
  }
  if (%listed == not_reached) {
    q4.out info * no player list: the server's variables filled the 900 bytes that are read
  }
  elseif (%listed == unreadable) {
    q4.out info * the players could not be read: the server's last variable is empty, which shifts the player list in its reply
  }
  elseif (%listed == cut) {
    q4.out info * the player list may be incomplete: the 900 bytes that are read ended inside it
  }
}

; $q4active - $true while the Quake 4 console window is open on this machine.
; IsQuakeActive does not read its argument text; any text will do.
alias q4active {
  if (!$isfile($velder.file)) { return $false }
  return $iif($dll($velder.file, IsQuakeActive, probe) == TRUE, $true, $false)
}


; $q4getinfo(host:port) - GetInfo from velder.dll, while mIRC waits for it
; (the host name lookup plus at most 650 ms). mIRC before 6.32 hands a DLL
; 900 bytes and GetInfo may write about 2,700: it is refused there.
alias q4getinfo {
  ; $version is AdiIRC's own in AdiIRC, which $~adiircexe names: only mIRC is refused.
  if (!$~adiircexe) && ($version < 6.32) {
    q4.out info * $!q4getinfo: mIRC $version hands a DLL 900 bytes and GetInfo may write about 2,700; use /q4info (velder-async.dll), or mIRC 6.32 or later
    return
  }
  if (!$velder.address($1)) || (!$isfile($velder.file)) { return }
  return $dll($velder.file, GetInfo, $1)
}

; --- /q4watch -----------------------------------------------------------
; Hash table q4watch: one item per watched server, named by its address,
; holding "where seconds due network cid" (due in $ctime; network "-" when
; the watch was made while not connected). Hash table q4watch.last keeps
; what the last answer said: <address>.up, .map, .names, .known (set once a
; whole player list has been seen) and .ticket while a query runs.

alias q4watch {
  if ($1 == off) {
    if ($2 != $null) {
      if ($hget(q4watch, $2) == $null) { q4.out info * /q4watch: $2 is not watched | return }
      hdel q4watch $2
      if ($hget(q4watch.last)) { hdel -w q4watch.last $2 $+ .* }
      q4.out info * /q4watch: no longer watching $2
    }
    else {
      if ($hget(q4watch)) { hfree q4watch }
      if ($hget(q4watch.last)) { hfree q4watch.last }
      q4.out info * /q4watch: stopped
    }
    return
  }
  if (!$velder.address($1)) {
    q4.out info * /q4watch: give the server as host:port, for example /q4watch 127.0.0.1:28004 #clan 60
    return
  }
  if (!$isfile($velder.async)) {
    q4.out info * /q4watch: $velder.async is missing
    return
  }
  ; Where to say it: a channel, an @window, or (neither given) the active window.
  var -n %where = -, %seconds = 60
  if ($left($2, 1) isin $+($chr(35), $chr(38), @)) && ($len($2) > 1) { var -n %where = $2 }
  if ($2 isnum) { var -n %seconds = $2 }
  elseif ($3 isnum) { var -n %seconds = $3 }
  if (%seconds !isnum 15-86400) || (. isin %seconds) {
    q4.out info * /q4watch: give the interval in whole seconds from 15 to 86400
    return
  }
  var -n %network = $iif($network != $null, $network, -)
  if ($chr(32) isin %network) { var -n %network = - }
  hadd -m q4watch $1 %where %seconds 0 %network $cid
  if ($hget(q4watch.last)) { hdel -w q4watch.last $1 $+ .* }
  if ($left(%where, 1) == @) && (!$window(%where)) { window -n %where }
  q4.out info * /q4watch: watching $1 every %seconds seconds
  q4.timer
}

; Starts a query for every watch that is due and has none running; a watch
; the DLL refuses now (busy, full) is tried again on the next tick.
alias -l q4watch.due {
  var -n %i = 1, %n = $hget(q4watch, 0).item
  while (%i <= %n) {
    var -n %address = $hget(q4watch, %i).item, %entry = $hget(q4watch, %address)
    if ($gettok(%entry, 3, 32) <= $ctime) && ($hget(q4watch.last, %address $+ .ticket) == $null) {
      var -n %ticket = $q4.ask(watch, %address)
      if (%ticket isnum) {
        hadd q4watch %address $puttok(%entry, $calc($ctime + $gettok(%entry, 2, 32)), 3, 32)
        hadd -m q4watch.last %address $+ .ticket %ticket
      }
    }
    inc %i
  }
}

; $q4watch.answer(<address>, <answer>) - says what changed since the last
; answer: at most three lines per answer, each cut to 400 characters.
alias -l q4watch.answer {
  var -n %address = $1, %answer = $2
  if ($hget(q4watch, %address) == $null) { return }
  var -n %outcome = $velder.outcome(%answer, %address)
  var -n %was = $hget(q4watch.last, %address $+ .up)
  if (%outcome != answered) {
    if (%was != down) {
      q4watch.say %address Quake 4 %address is down: $iif(%outcome == silent, no answer, its reply could not be read)
    }
    hadd -m q4watch.last %address $+ .up down
    return
  }
  hadd -m q4watch.last %address $+ .up up

  var -n %server = $velder.section(%answer, server)
  var -n %map = $velder.var(%server, si_map)
  var -n %name = $velder.var(%server, si_name)
  var -n %listed = $velder.listed(%answer)
  var -n %names = $iif(%listed != unreadable, $velder.names($velder.section(%answer, players)))
  var -n %count = $iif($istok(not_reached unreadable, %listed, 32), ?, $numtok(%names, 255))
  if (%was != up) {
    ; First answer, or back after being down: one line with the whole picture.
    q4watch.say %address Quake 4 %address $iif(%was == down, is back:, is up:) %name - %map - %count players
    hadd q4watch.last %address $+ .map %map
    if (%listed == complete) { q4watch.keep %address %names }
    return
  }
  if (%map != $hget(q4watch.last, %address $+ .map)) {
    q4watch.say %address Quake 4 %address map is now %map
    hadd q4watch.last %address $+ .map %map
  }
  ; Joins and leaves only from answers that hold the whole player list.
  if (%listed != complete) { return }
  if (!$hget(q4watch.last, %address $+ .known)) {
    q4watch.keep %address %names
    return
  }
  var -n %old = $hget(q4watch.last, %address $+ .names)
  var -n %joined, %left, %i = 1
  while (%i <= $numtok(%names, 255)) {
    var -n %one = $gettok(%names, %i, 255)
    if (!$findtokcs(%old, %one, 1, 255)) { var -n %joined = $addtok(%joined, %one, 255) }
    inc %i
  }
  var -n %i = 1
  while (%i <= $numtok(%old, 255)) {
    var -n %one = $gettok(%old, %i, 255)
    if (!$findtokcs(%names, %one, 1, 255)) { var -n %left = $addtok(%left, %one, 255) }
    inc %i
  }
  if (%joined != $null) { q4watch.say %address Quake 4 %address joined: $replace(%joined, $chr(255), $+($chr(44), $chr(32))) }
  if (%left != $null) { q4watch.say %address Quake 4 %address left: $replace(%left, $chr(255), $+($chr(44), $chr(32))) }
  q4watch.keep %address %names
}

; q4watch.keep <address> [names] - remembers the player list of an answer.
alias -l q4watch.keep {
  hadd -m q4watch.last $1 $+ .known 1
  if ($2- == $null) { hdel -w q4watch.last $1 $+ .names }
  else { hadd q4watch.last $1 $+ .names $2- }
}

; q4watch.say <address> <text> - where the watch says things: a channel gets
; the line through the paced queue, on the watch's own connection; an
; @window or "-" (the active window) an echo at once.
alias -l q4watch.say {
  var -n %entry = $hget(q4watch, $1), %text = $left($2-, 400)
  var -n %where = $gettok(%entry, 1, 32)
  if (%where == -) { q4.out - %text }
  elseif ($left(%where, 1) == @) {
    ; Echo to a window that is gone halts the script, the whole tick with it.
    if (!$window(%where)) { window -n %where }
    echo %where %text
  }
  else { q4say.add $gettok(%entry, 5, 32) $gettok(%entry, 4, 32) %where %text }
}

; --- the paced queue for channels ------------------------------------------
; Hash table q4say: items head and tail (the numbers of the oldest line and
; of the next one to come), sent (the $ctime of the last line sent), and
; one item per line, "cid network channel text".

; q4say.add <cid> <network> <channel> <text>
alias -l q4say.add {
  if (!$hget(q4say)) { hadd -m q4say head 1 | hadd q4say tail 1 | hadd q4say sent 0 }
  var -n %tail = $hget(q4say, tail)
  hadd q4say %tail $1-
  hadd q4say tail $calc(%tail + 1)
  ; At most 60 lines wait: past that the oldest is dropped.
  if ($calc(%tail + 1 - $hget(q4say, head)) > 60) {
    hdel q4say $hget(q4say, head)
    q4say.trim
  }
  q4.timer
}

; $q4say.waiting - $true while a line waits.
alias -l q4say.waiting {
  if (!$hget(q4say)) { return $false }
  return $iif($hget(q4say, head) < $hget(q4say, tail), $true, $false)
}

; q4say.trim - moves head past lines already sent or dropped.
alias -l q4say.trim {
  var -n %head = $hget(q4say, head), %tail = $hget(q4say, tail)
  while (%head < %tail) && ($hget(q4say, %head) == $null) { inc %head }
  hadd q4say head %head
}

; $q4say.connection(<cid>, <network>) - the connection a line goes out on:
; its own while that is connected to the same network, else any connection
; to that network; $null while there is none.
alias -l q4say.connection {
  if ($scid($1)) && ($scid($1).status == connected) && (($2 == -) || ($scid($1).network == $2)) { return $1 }
  if ($2 == -) { return }
  var -n %i = 1
  while (%i <= $scon(0)) {
    if ($scon(%i).status == connected) && ($scon(%i).network == $2) { return $scon(%i) }
    inc %i
  }
}

; Sends the oldest line that can go now (its connection is up and in its
; channel), at most one line every two seconds over all channels and
; networks.
alias -l q4say.tick {
  if (!$q4say.waiting) { return }
  if ($calc($ctime - $hget(q4say, sent)) < 2) { return }
  var -n %i = $hget(q4say, head), %tail = $hget(q4say, tail)
  while (%i < %tail) {
    var -n %line = $hget(q4say, %i)
    if (%line != $null) {
      var -n %cid = $q4say.connection($gettok(%line, 1, 32), $gettok(%line, 2, 32))
      var -n %channel = $gettok(%line, 3, 32)
      if (%cid != $null) {
        scid %cid
        if ($me ison %channel) {
          msg %channel $gettok(%line, 4-, 32)
          scid -r
          hdel q4say %i
          hadd q4say sent $ctime
          q4say.trim
          return
        }
        scid -r
      }
    }
    inc %i
  }
}

; --- /q4browse -------------------------------------------------------------
; Hash table q4browse: count, next (the next server to ask), all (1: empty
; and silent servers are shown too), sort (players, ping, name or map),
; fetched (the $ctime the list was read), source ("file <path>" or "master
; <host:port>"), dirty (1: the window waits to be drawn again), and per server N: line.N its address; once it
; answered, seen.N "players max ping" ("-" when it did not answer), name.N,
; map.N and names.N (its players' names divided by $chr(255)). What a server
; sent is only ever shown or compared, never run. Window @q4browse: the
; status in its title bar, a header line, then one line per server;
; row.R is the server N shown on line R.
; Hash table q4browse.lists: what the list file holds: masters (those it
; was asked of, as ListStart was given them), fetched (the $ctime it was
; written), from (the masters that gave a list) and silent (those that did
; not). It is used again for five minutes for the same masters (-f fetches
; anew).
;
; With -m the list comes from masters: ListStart in velder-async.dll asks
; them (the community master and id's unless told) in the background and
; writes every server they list, once, one host:port a line, to
; velder-master.txt beside this script (whole, or not at all); the signal
; for that ticket then reads the file as /q4browse file would.

alias q4browse {
  if (!$isfile($velder.async)) {
    q4.out info * /q4browse: $velder.async is missing
    return
  }
  ; Switches first: -a shows empty and silent servers too, -f fetches a
  ; master's list anew, -r browses the last file or master again.
  var -n %all = 0, %fresh = 0, %args = $1-
  while ($istok(-a -f -r, $gettok(%args, 1, 32), 32)) {
    var -n %switch = $gettok(%args, 1, 32), %args = $gettok(%args, 2-, 32)
    if (%switch == -a) { var -n %all = 1 }
    elseif (%switch == -f) { var -n %fresh = 1 }
    elseif ($hget(q4browse, source) == $null) {
      q4.out info * /q4browse: nothing to refresh yet
      return
    }
    else {
      var -n %args = $hget(q4browse, source)
      if ($hget(q4browse, all)) { var -n %all = 1 }
    }
  }
  var -n %what = $gettok(%args, 1, 32)
  if (%what == -m) || (%what == master) {
    q4browse.master %all %fresh $gettok(%args, 2-, 32)
    return
  }
  if (%what == file) { var -n %args = $gettok(%args, 2-, 32) }
  if (%args == $null) || (!$isfile(%args)) {
    q4.out info * /q4browse: give a file of host:port lines, for example /q4browse servers.txt, or -m for a master's list
    return
  }
  q4browse.load %all file %args
}

; q4browse.master <all> <fresh> [master[:port][,master[:port]...]] - asks
; the masters for their lists in one ListStart, or reads the list they gave
; less than five minutes ago.
alias -l q4browse.master {
  var -n %masters = $velder.masters($3)
  if (%masters == $null) || ($4 != $null) {
    q4.out info * /q4browse: give the master as host or host:port, for example /q4browse -m master.quakehub.net:27650, or up to four divided by commas
    return
  }
  var -n %fetched = $hget(q4browse.lists, fetched)
  if (%fetched == $null) { var -n %fetched = 0 }
  if (!$2) && ($hget(q4browse.lists, masters) == %masters) && ($calc($ctime - %fetched) < 300) && ($isfile($velder.listfile)) {
    q4browse.load $1 master %masters $velder.listfile
    return
  }
  var -n %ticket = $dll($velder.async, ListStart, q4velder %masters $velder.listfile)
  if (%ticket !isnum) {
    q4.out info * /q4browse: $iif(%ticket == busy, a master list is being fetched already, $velder.spaced(%masters) not asked: %ticket)
    return
  }
  hadd -m q4velder.tickets %ticket list %masters $ctime $1
  q4browse.window
  aline @q4browse asking $velder.spaced(%masters) for the servers they list
  q4.timer
}

; $velder.masters([master[:port][,master[:port]...]]) - the masters as
; ListStart takes them: at most four, divided by commas, each once and with
; its port (27650 unless given); the community master and id's when none is
; named; $null when one is not a plain host:port.
alias -l velder.masters {
  var -n %given = $1
  if (%given == $null) { var -n %given = $+(master.quakehub.net, $chr(44), q4master.idsoftware.com) }
  var -n %masters, %i = 1, %n = $numtok(%given, 44)
  if (%n > 4) { return }
  while (%i <= %n) {
    var -n %master = $gettok(%given, %i, 44)
    if ($chr(58) !isin %master) { var -n %master = %master $+ :27650 }
    if (!$velder.plain(%master)) { return }
    var -n %masters = $addtok(%masters, %master, 44)
    inc %i
  }
  return %masters
}

; $velder.spaced(<a,b>) - a list divided by commas, as a line shows it.
alias -l velder.spaced {
  return $replace($1, $chr(44), $chr(44) $+ $chr(32))
}

; Where ListStart writes the masters' list.
alias -l velder.listfile {
  return $scriptdir $+ velder-master.txt
}

; q4browse.listed <masters> <all> <answer> - ListResult's answer: the number
; of servers written to the list file (after several masters followed by
; "answered:" and those that gave a list), or why there is none. It is the
; DLL's own text: a number, a word and the names this script gave it.
alias -l q4browse.listed {
  var -n %masters = $iif($numtok($1, 44) > 1, masters, master) $velder.spaced($1)
  if ($3 !isnum) {
    var -n %why = $3
    ; /var would take a comma for the start of another variable.
    if ($3 == no_answer) { var -n %why = no answer: the master is down $+ $chr(44) or it lists no server }
    elseif ($3 == no_host) { var -n %why = no such host }
    elseif ($3 == unwritable) { var -n %why = $velder.listfile could not be written }
    if ($window(@q4browse)) { aline @q4browse %masters gave no list: %why }
    else { q4.out info * /q4browse: %masters gave no list: %why }
    return
  }
  var -n %from = $1
  if ($numtok($1, 44) > 1) { var -n %from = $iif($left($4, 9) == answered:, $mid($4, 10)) }
  var -n %silent, %i = 1
  while (%i <= $numtok($1, 44)) {
    if (!$istok(%from, $gettok($1, %i, 44), 44)) { var -n %silent = $addtok(%silent, $gettok($1, %i, 44), 44) }
    inc %i
  }
  if ($hget(q4browse.lists)) { hfree q4browse.lists }
  hadd -m q4browse.lists masters $1
  hadd q4browse.lists fetched $ctime
  if (%from != $null) { hadd q4browse.lists from %from }
  if (%silent != $null) { hadd q4browse.lists silent %silent }
  ; The list is kept for the next browse; a closed window asks no server.
  if (!$window(@q4browse)) { return }
  if ($3 == 0) {
    aline @q4browse no servers listed $q4browse.origin
    return
  }
  q4browse.load $2 master $1 $velder.listfile
  if ($3 > 500) { q4.out info * /q4browse: %masters listed $3 servers; the first 500 are shown }
}

; $q4browse.origin - which masters gave the list in the file, and which did
; not answer.
alias -l q4browse.origin {
  var -n %text = from $velder.spaced($hget(q4browse.lists, from))
  if ($hget(q4browse.lists, silent) == $null) { return %text }
  return %text - no answer from $velder.spaced($hget(q4browse.lists, silent)) $+ : the master is down, or it lists no server
}

; Opens @q4browse, or empties it: a listbox in a fixed font, so that the
; columns line up.
alias -l q4browse.window {
  if ($window(@q4browse)) { clear @q4browse }
  else { window -l @q4browse -1 -1 760 420 Fixedsys 9 }
}

; q4browse.load <all> <file|master> <source> [file] - reads the servers of
; the file (at most 500), then asks them.
alias -l q4browse.load {
  var -n %file = $iif($2 == file, $3-, $4-), %lines = $lines(%file), %i = 1, %n = 0
  ; The order the menu chose is kept for the next browse.
  var -n %sort = $hget(q4browse, sort)
  if (%sort == $null) { var -n %sort = players }
  if ($hget(q4browse)) { hfree q4browse }
  hadd -m q4browse sort %sort
  hadd q4browse source $2 $iif($2 == file, %file, $3)
  hadd q4browse all $1
  hadd q4browse fetched $iif($2 == master, $hget(q4browse.lists, fetched), $ctime)
  ; n: the lines are read as text, never evaluated.
  while (%i <= %lines) && (%n < 500) {
    var -n %address = $read(%file, nt, %i)
    if ($velder.address(%address)) {
      inc %n
      hadd q4browse line. $+ %n %address
    }
    inc %i
  }
  if (%n == 0) {
    q4.out info * /q4browse: no host:port line in %file
    return
  }
  hadd q4browse next 1
  hadd q4browse count %n
  hadd q4browse dirty 1
  q4browse.window
  q4browse.draw
  q4browse.pump
  q4.timer
}

; Starts queries for the next servers in the list until the DLL refuses one
; (busy: 16 run); the timer goes on with the rest every second.
alias -l q4browse.pump {
  if (!$hget(q4browse)) { return }
  var -n %next = $hget(q4browse, next), %count = $hget(q4browse, count)
  while (%next <= %count) {
    var -n %ticket = $q4.ask(browse, $hget(q4browse, line. $+ %next), %next)
    if (%ticket !isnum) { break }
    inc %next
  }
  hadd q4browse next %next
}

; $q4browse.busy - $true while servers wait to be asked or the window to be drawn.
alias -l q4browse.busy {
  if (!$hget(q4browse)) { return $false }
  return $iif(($hget(q4browse, dirty)) || ($hget(q4browse, next) <= $hget(q4browse, count)), $true, $false)
}

; $q4browse.answer(<address>, <answer>, <N>) - keeps what server N answered;
; the window is drawn again on the next tick.
alias -l q4browse.answer {
  if ($hget(q4browse, line. $+ $3) !== $1) { return }
  var -n %answer = $2
  hadd q4browse dirty 1
  if ($velder.outcome(%answer, $1) != answered) {
    hadd q4browse seen. $+ $3 -
    return
  }
  var -n %server = $velder.section(%answer, server), %section = $velder.section(%answer, players)
  var -n %listed = $velder.listed(%answer)
  if (%listed == unreadable) { var -n %section = $null }
  var -n %players = $iif($istok(not_reached unreadable, %listed, 32), ?, $int($calc($numtok(%section, 255) / 3)))
  var -n %max = $velder.var(%server, si_maxPlayers)
  if (%max !isnum 0-999) { var -n %max = ? }
  hadd q4browse seen. $+ $3 %players %max $calc($left(%answer, 4))
  hadd q4browse name. $+ $3 $velder.var(%server, si_name)
  hadd q4browse map. $+ $3 $velder.var(%server, si_map)
  hadd q4browse names. $+ $3 $velder.names(%section)
}

; $q4browse.pad(<text>, <width>) - the text cut or filled to the width with
; no-break spaces, which mIRC does not fold as it folds spaces.
alias -l q4browse.pad {
  var -n %text = $left($1, $2)
  return %text $+ $str($chr(160), $calc($2 - $len(%text)))
}

; $q4browse.row(<N>) - server N's line: players, round trip, name, map, address.
alias -l q4browse.row {
  var -n %seen = $hget(q4browse, seen. $+ $1), %address = $hget(q4browse, line. $+ $1)
  if (%seen == -) { return $q4browse.pad(-, 10) $q4browse.pad(no answer, 53) %address }
  var -n %players = $gettok(%seen, 1, 32), %max = $gettok(%seen, 2, 32)
  var -n %count = $q4browse.pad(%players $+ / $+ %max $iif((%players isnum 1-) && (%players == %max), full), 10)
  var -n %ping = $q4browse.pad($str($chr(160), $calc(4 - $len($gettok(%seen, 3, 32)))) $+ $gettok(%seen, 3, 32) ms, 7)
  return %count %ping $q4browse.pad($hget(q4browse, name. $+ $1), 28) $q4browse.pad($hget(q4browse, map. $+ $1), 16) %address
}

; q4browse.draw - the window's lines from what the servers answered, in the
; order the menu chose (players unless told: the servers with players
; first, most players first, then by round trip); empty ones after them and
; silent ones last, both only with -a. The status goes to the title bar,
; and the selection stays on the server it was on. The order is kept as
; one line per server in a hidden sorted window, so that no line grows
; with the number of servers.
alias -l q4browse.draw {
  if (!$hget(q4browse, dirty)) { return }
  hdel q4browse dirty
  if (!$window(@q4browse)) { return }
  var -n %picked = $hget(q4browse, line. $+ $q4browse.picked), %sort = $hget(q4browse, sort)
  var -n %i = 1, %n = $hget(q4browse, count), %answered = 0, %players = 0, %playing = 0
  if ($window(@q4browse.order)) { window -c @q4browse.order }
  window -hs @q4browse.order
  while (%i <= %n) {
    var -n %seen = $hget(q4browse, seen. $+ %i), %count = $gettok(%seen, 1, 32)
    if (%seen != $null) && (%seen != -) { inc %answered }
    if (%count isnum 1-) { inc %players %count | inc %playing }
    ; Most players first; then servers whose players were not read, the
    ; empty and the silent ones; within each, by round trip, then as listed.
    var -n %rank = 102
    if (%count isnum) { var -n %rank = $calc(100 - %count) }
    elseif (%count == ?) { var -n %rank = 101 }
    if (%seen != $null) && ((%rank < 100) || (%rank == 101) || ($hget(q4browse, all))) {
      var -n %ping = $right(0000 $+ $iif(%seen == -, 9999, $gettok(%seen, 3, 32)), 4)
      if (%sort == name) || (%sort == map) { var -n %key = $hget(q4browse, %sort $+ . $+ %i) }
      elseif (%sort == ping) { var -n %key = %ping }
      else { var -n %key = $right(000 $+ %rank, 3) $+ %ping }
      aline @q4browse.order %key $right(000 $+ %i, 3)
    }
    inc %i
  }
  var -n %when = $asctime($hget(q4browse, fetched), HH:nn)
  var -n %listed = master $hget(q4browse.lists, masters)
  var -n %origin = $iif($hget(q4browse, source) == %listed, - $q4browse.origin)
  titlebar @q4browse %n servers listed, %answered answered, %players players on %playing servers - list of %when %origin $iif(!$hget(q4browse, all), - empty servers hidden (menu or /q4browse -a shows them))
  ; The same servers in the same order: only the lines that changed are
  ; replaced. Otherwise the list is drawn anew.
  var -n %i = 1, %rows = $line(@q4browse.order, 0), %same = $iif($line(@q4browse, 0) == $calc(%rows + 1), 1, 0)
  while (%same) && (%i <= %rows) {
    if ($hget(q4browse, row. $+ $calc(%i + 1)) != $calc($gettok($line(@q4browse.order, %i), -1, 32))) { var -n %same = 0 }
    inc %i
  }
  if (%same) {
    var -n %i = 2
    while (%i <= $line(@q4browse, 0)) {
      var -n %row = $q4browse.row($hget(q4browse, row. $+ %i))
      if ($line(@q4browse, %i) !=== %row) { rline @q4browse %i %row }
      inc %i
    }
    window -c @q4browse.order
    return
  }
  clear @q4browse
  aline @q4browse $q4browse.pad(players, 10) $q4browse.pad(ping, 7) $q4browse.pad(name, 28) $q4browse.pad(map, 16) address
  if ($hget(q4browse)) { hdel -w q4browse row.* }
  var -n %i = 1, %rows = $line(@q4browse.order, 0)
  while (%i <= %rows) {
    var -n %server = $calc($gettok($line(@q4browse.order, %i), -1, 32))
    aline @q4browse $q4browse.row(%server)
    hadd q4browse row. $+ $calc(%i + 1) %server
    if (%picked != $null) && ($hget(q4browse, line. $+ %server) == %picked) { sline @q4browse $calc(%i + 1) }
    inc %i
  }
  window -c @q4browse.order
}

; $q4browse.picked - the server on the selected line, or $null.
alias -l q4browse.picked {
  if (!$window(@q4browse)) || (!$hget(q4browse)) { return }
  return $hget(q4browse, row. $+ $sline(@q4browse, 1).ln)
}

; q4browse.act <players|watch|copy|join|open> - what the menu does with the
; selected server. Only its checked address is used. A click on the menu
; made @q4browse the active window: the channel to watch in is the window
; that was active before it, on that window's connection.
alias -l q4browse.act {
  var -n %address = $hget(q4browse, line. $+ $q4browse.picked)
  if (!$velder.address(%address)) { return }
  if ($1 == open) { q4browse.act $iif(%q4velder.game != $null, join, players) }
  elseif ($1 == players) { q4info %address }
  elseif ($1 == watch) {
    scid $lactivecid
    if ($lactive ischan) { q4watch %address $lactive }
    else { q4.out info * /q4browse: make a channel the active window, then the list, to watch %address there }
    scid -r
  }
  elseif ($1 == copy) {
    clipboard %address
    q4.out info * /q4browse: %address copied
  }
  elseif ($1 == join) { q4join %address }
}

; Double-click joins once the game's path is set, as the game's own browser
; does, and shows the players until then.
menu @q4browse {
  dclick: q4browse.act open
  $iif($q4browse.picked, Show players) : q4browse.act players
  $iif($q4browse.picked, Watch in the active channel) : q4browse.act watch
  $iif($q4browse.picked, Copy address) : q4browse.act copy
  $iif($q4browse.picked, Join game) : q4browse.act join
  -
  Refresh : q4browse -r
  $iif($hget(q4browse, all), Hide empty servers, Show empty servers) : q4browse.toggle
  Sort by players : q4browse.sort players
  Sort by ping : q4browse.sort ping
  Sort by name : q4browse.sort name
  Sort by map : q4browse.sort map
  Set the game's path : q4game $$sfile(Quake4.exe, Where is Quake4.exe?, Use)
}

; Closing the list ends the browse: no more queries are sent for it, and
; the timer stops once those running are in.
on *:CLOSE:@q4browse: {
  if ($hget(q4browse)) {
    hadd q4browse next $calc($hget(q4browse, count) + 1)
    if ($hget(q4browse, dirty)) { hdel q4browse dirty }
  }
}

; q4browse.sort <players|ping|name|map> - the order of the list.
alias -l q4browse.sort {
  if (!$hget(q4browse)) { return }
  hadd q4browse sort $1
  hadd q4browse dirty 1
  q4browse.draw
}

; Shows or hides the empty and silent servers.
alias -l q4browse.toggle {
  if (!$hget(q4browse)) { return }
  hadd q4browse all $iif($hget(q4browse, all), 0, 1)
  hadd q4browse dirty 1
  q4browse.draw
}

; /q4find <text> - the players of the last browse whose name holds the text
; (case does not matter), with their server's name, map and players.
alias q4find {
  if ($1- == $null) {
    q4.out info * /q4find: give part of a player's name, for example /q4find kane
    return
  }
  if (!$hget(q4browse, count)) {
    q4.out info * /q4find: browse first: /q4browse -m or /q4browse file
    return
  }
  var -n %i = 1, %n = $hget(q4browse, count), %found = 0
  while (%i <= %n) {
    var -n %names = $hget(q4browse, names. $+ %i), %j = 1, %seen = $hget(q4browse, seen. $+ %i)
    while (%j <= $numtok(%names, 255)) {
      var -n %who = $gettok(%names, %j, 255)
      if ($1- isin %who) {
        inc %found
        q4.out - - %who on $hget(q4browse, name. $+ %i) $+($chr(40), $hget(q4browse, line. $+ %i), $chr(41)) - $hget(q4browse, map. $+ %i) - $gettok(%seen, 1, 32) $+ / $+ $gettok(%seen, 2, 32) players
      }
      inc %j
    }
    inc %i
  }
  if (%found == 0) { q4.out info * /q4find: no player of the last browse has $1- in the name }
}

; /q4game [path] - where Quake4.exe is, for the browser's Join; alone, says
; what is set.
alias q4game {
  if ($1- == $null) {
    q4.out info * /q4game: $iif(%q4velder.game != $null, the game is %q4velder.game, no path set: /q4game C:\Games\Quake 4\Quake4.exe)
    return
  }
  if (!$isfile($1-)) { q4.out info * /q4game: there is no file $1- | return }
  set -n %q4velder.game $1-
  q4.out info * /q4game: Join runs $1-
}

; $velder.plain(<text>) - $true for an address of letters, digits, dots and
; dashes, a colon and a port: nothing else may reach a command line.
alias -l velder.plain {
  if (!$velder.address($1)) { return $false }
  var -n %host = $gettok($1, 1, 58), %i = 1
  while (%i <= $len(%host)) {
    var -n %c = $mid(%host, %i, 1)
    if (%c !isalnum) && (%c !isin .-) { return $false }
    inc %i
  }
  return $true
}

; q4join <host:port> - runs the game with +connect: the user's own path and
; a plain address, nothing a server sent.
alias q4join {
  if (!$velder.plain($1)) {
    q4.out info * /q4join: give the server as host:port, for example /q4join 127.0.0.1:28004
    return
  }
  if (%q4velder.game == $null) || (!$isfile(%q4velder.game)) {
    q4.out info * /q4join: set the game's path first: /q4game C:\Games\Quake 4\Quake4.exe
    return
  }
  ; -p: in the game's own folder, where it finds its data.
  run -p $qt(%q4velder.game) +connect $1
}

on *:UNLOAD: {
  .timerq4velder off
  ; Quoted: the path may hold spaces.
  if ($dll($velder.async)) { dll -u $qt($velder.async) }
  if ($dll($velder.file)) { dll -u $qt($velder.file) }
  if ($window(@q4browse)) { window -c @q4browse }
  if ($window(@q4velder)) { window -c @q4velder }
  if ($hget(q4browse.lists)) { hfree q4browse.lists }
  if ($hget(q4watch)) { hfree q4watch }
  if ($hget(q4watch.last)) { hfree q4watch.last }
  if ($hget(q4velder.tickets)) { hfree q4velder.tickets }
  if ($hget(q4say)) { hfree q4say }
  if ($hget(q4browse)) { hfree q4browse }
}

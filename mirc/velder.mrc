; velder.mrc - Quake 4 server status in mIRC through velder.dll
;
; Put velder.dll in the same folder as this script and load it with
;   /load -rs velder.mrc
;
;   /q4info host:port   echoes the server's name, map, game type and players
;   $q4active           $true when the Quake 4 console window is open
;
; GetInfo answers with one line of text that is split on two marker bytes:
;   $chr(254)  divides the sections:  server part  $chr(254)  players  $chr(254)
;   $chr(255)  divides the fields inside a section
; The first four characters are the round-trip time in milliseconds (0012).
; The server part holds the server's variables as name/value fields
; (si_name, then its value, si_map, then its value, ...). The players section
; holds three fields per player: ping, name and clan; an empty clan is a space.
; Quake colour codes (^1 and the like) are already removed. A name made of
; colour codes only leaves an empty field, which $gettok skips: the fields of
; that player then run into the next one.

; Where the DLL lives: beside this script.
alias -l velder.file {
  return $scriptdir $+ velder.dll
}

; $velder.var(<server part>, <variable>) - the value that follows a variable's
; name. $gettok skips empty fields, so this works for variables with a value.
alias -l velder.var {
  var %at = $findtok($1, $2, 1, 255)
  if (%at == $null) { return }
  return $gettok($1, $calc(%at + 1), 255)
}

alias q4info {
  if ($1 == $null) || (: !isin $1) {
    echo -ac info * /q4info: give the server as host:port, for example /q4info 127.0.0.1:28004
    return
  }
  if (!$isfile($velder.file)) {
    echo -ac info * /q4info: $velder.file is missing
    return
  }
  ; Blocks for at most about 650 ms while the server is asked.
  var %answer = $dll($velder.file, GetInfo, $1)
  if ($len(%answer) < 4) || (%answer == $1) {
    echo -ac info * $1 did not answer
    return
  }
  var %ping = $calc($left(%answer, 4))
  var %server = $gettok(%answer, 1, 254)
  var %players = $gettok(%answer, 2, 254)

  var %name = $velder.var(%server, si_name)
  var %map = $velder.var(%server, si_map)
  var %type = $velder.var(%server, si_gameType)
  var %max = $velder.var(%server, si_maxPlayers)
  var %count = $calc($numtok(%players, 255) / 3)
  echo -a $chr(2) $+ %name $+ $chr(2) ( $+ $1 $+ ) - %map - %type - $int(%count) $+ / $+ %max players - %ping ms

  var %i = 1
  var %fields = $numtok(%players, 255)
  while (%i <= %fields) {
    var %pping = $gettok(%players, %i, 255)
    var %pname = $gettok(%players, $calc(%i + 1), 255)
    var %pclan = $gettok(%players, $calc(%i + 2), 255)
    if (%pclan == $null) || (%pclan == $chr(32)) { echo -a - %pname ( $+ %pping ms) }
    else { echo -a - %pname [ $+ %pclan $+ ] ( $+ %pping ms) }
    inc %i 3
  }
  ; A complete answer ends with $chr(254); without it the reply was cut short.
  if ($right(%answer, 1) != $chr(254)) {
    echo -ac info * the answer was cut short; some players may be missing
  }
}

; $q4active - $true while the Quake 4 console window is open on this machine.
; IsQuakeActive does not read its argument text; any text will do.
alias q4active {
  if (!$isfile($velder.file)) { return $false }
  return $iif($dll($velder.file, IsQuakeActive, probe) == TRUE, $true, $false)
}

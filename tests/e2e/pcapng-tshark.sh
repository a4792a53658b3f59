#!/usr/bin/env bash
# kestrixrun's pcapng files as Wireshark reads them: each sample traced by the real kestrixrun
# under the drop-in Winsock layer, and each file read by Debian's tshark. Every file opens without
# a warning and holds no malformed packet and no expert warning; following each TCP stream gives
# exactly the bytes the sample moved, both ways; the HTTP pair shows its request lines and status
# codes through the HTTP dissector; datagrams and connections carry the ports the samples print;
# the IPv6 sample's packets are IPv6.
#   pcapng-tshark.sh BUILD_DIR
set -u
build=$(cd "$1" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0

fail() {
  echo "FAILED: $*"
  failures=$((failures + 1))
}

if ! command -v tshark >/dev/null; then
  echo "FAILED: tshark is not installed (scripts/setup.sh installs it)"
  exit 1
fi

# tshark's own note that it runs as root is no warning about the file.
tshark_quiet() { tshark "$@" 2> >(grep -v '^Running as user "root"' >&2); }

hex() { printf '%s' "$1" | od -An -v -tx1 | tr -d ' \n'; }
# The samples' FillPattern: byte i is i * 7 + seed.
pattern() { awk -v n="$1" -v s="$2" 'BEGIN { for (i = 0; i < n; i++) printf "%02x", (i * 7 + s) % 256 }'; }

# Traces the sample (its command line in the arguments) into NAME.pcapng; the program's own
# lines, which kestrixrun's standard output carries, into NAME.out.
trace() {
  local name=$1
  shift
  (cd "$build/bin" && WINEDLLOVERRIDES="ws2_32=n,b" timeout 300 "$build/wine-run" kestrixrun.exe \
    --format pcapng --output "Z:$(echo "$work/$name.pcapng" | tr / '\\')" "$@" >"$work/$name.out" 2>&1)
  local code=$?
  sed -i 's/\r$//' "$work/$name.out"
  [ $code -eq 0 ] || fail "$name: kestrixrun exited with $code: $(tail -3 "$work/$name.out")"
}

# The file opens without a warning, and no packet is malformed or draws an expert warning.
check_sound() {
  local name=$1 file=$work/$1.pcapng warnings
  warnings=$(tshark_quiet -r "$file" 2>&1 >/dev/null)
  [ -z "$warnings" ] || fail "$name: tshark warns: $warnings"
  local bad
  bad=$(tshark_quiet -r "$file" -Y '_ws.malformed || _ws.expert.severity >= "Warning"' 2>&1)
  [ -z "$bad" ] || fail "$name: malformed packets or expert warnings: $bad"
  [ "$(tshark_quiet -r "$file" | wc -l)" -gt 0 ] || fail "$name: no packets"
}

# One line per TCP stream, sorted: the bytes from the end that opened it (its first packet's
# source), then those from the other, in hex; "-" for none.
streams() {
  local file=$1 count stream client follow node0 node1 data0 data1
  count=$(tshark_quiet -r "$file" -Y tcp -T fields -e tcp.stream | sort -un | wc -l)
  for ((stream = 0; stream < count; stream++)); do
    client=$(tshark_quiet -r "$file" -Y "tcp.stream == $stream" -T fields -E separator=, \
      -e ip.src -e ipv6.src -e tcp.srcport | head -1 | awk -F, '{ print ($1 != "" ? $1 : $2) "/" $3 }')
    follow=$(tshark_quiet -r "$file" -q -z "follow,tcp,raw,$stream")
    node0=$(sed -n 's/^Node 0: \[\{0,1\}\([^]]*\)\]\{0,1\}:\([0-9]*\)$/\1\/\2/p' <<<"$follow")
    data0=$(sed -n '/^Node 1:/,/^====/p' <<<"$follow" | grep -v '^Node 1:\|^====\|^	' | tr -d '\n')
    data1=$(sed -n '/^Node 1:/,/^====/p' <<<"$follow" | grep '^	' | tr -d '\t\n')
    if [ "$node0" = "$client" ]; then
      echo "${data0:--} ${data1:--}"
    else
      echo "${data1:--} ${data0:--}"
    fi
  done | sort
}

# expect_streams NAME "CLIENT_HEX SERVER_HEX"...: the file's streams are these, in any order.
expect_streams() {
  local name=$1 expected actual
  shift
  expected=$(printf '%s\n' "$@" | sort)
  actual=$(streams "$work/$name.pcapng")
  [ "$expected" = "$actual" ] || fail "$name: the TCP streams differ
expected:
$expected
followed:
$actual"
}

# expect_datagrams NAME "SOURCE DESTINATION LENGTH"...: every UDP datagram in order; "*" stands
# for what the sample does not say.
expect_datagrams() {
  local name=$1 expected actual
  shift
  expected=$(printf '%s\n' "$@")
  actual=$(tshark_quiet -r "$work/$name.pcapng" -Y udp -T fields -E separator=' ' \
    -e ip.src -e ipv6.src -e udp.srcport -e ip.dst -e ipv6.dst -e udp.dstport -e udp.length |
    awk '{ printf "%s:%s %s:%s %d\n", $1, $2, $3, $4, $5 - 8 }')
  # shellcheck disable=SC2053
  [[ "$actual" == $expected ]] || fail "$name: the datagrams differ
expected:
$expected
read:
$actual"
}

# The first match of the sed expression in the sample's own lines.
said() { sed -n "s/^$2.*/\1/p" "$work/$1.out" | head -1; }

fox=$(hex "the quick brown fox jumps over the lazy dog")

trace tcp_blocking tcp_blocking.exe
check_sound tcp_blocking
expect_streams tcp_blocking "$fox $fox"
client=$(said tcp_blocking 'tcp_blocking: client \([0-9.:]*\) connected')
server=$(said tcp_blocking 'tcp_blocking: server listening on \([0-9.:]*\)')
ends=$(tshark_quiet -r "$work/tcp_blocking.pcapng" -Y 'tcp.flags.syn == 1 && tcp.flags.ack == 0' \
  -T fields -E separator=' ' -e ip.src -e tcp.srcport -e ip.dst -e tcp.dstport | awk '{ print $1 ":" $2, $3 ":" $4 }')
[ "$ends" = "$client $server" ] || fail "tcp_blocking: the connection is $ends, the sample says $client to $server"

trace udp udp.exe
check_sound udp
sender=$(said udp 'udp: two UDP sockets at \([0-9.:]*\) and')
receiver=$(said udp 'udp: two UDP sockets at [0-9.:]* and \([0-9.:]*\)')
expect_datagrams udp "$sender $receiver 37" "$sender $receiver 21" "$sender $receiver 40" \
  "$sender $receiver 200" "$sender $receiver 40" "$sender $receiver 200"
[ "$(tshark_quiet -r "$work/udp.pcapng" -Y tcp | wc -l)" -eq 0 ] || fail "udp: TCP packets in a UDP trace"

trace ipv6 ipv6.exe
check_sound ipv6
hello=$(hex "hello over ::1")
expect_streams ipv6 "$hello $hello"
[ "$(tshark_quiet -r "$work/ipv6.pcapng" -Y 'ip' | wc -l)" -eq 0 ] || fail "ipv6: IPv4 packets"
[ "$(tshark_quiet -r "$work/ipv6.pcapng" -Y 'ipv6' | wc -l)" -eq "$(tshark_quiet -r "$work/ipv6.pcapng" | wc -l)" ] ||
  fail "ipv6: not every packet is IPv6"
udp_ends=$(sed -n 's/^ipv6: UDP datagram of 14 bytes from \[\(.*\)\]:\([0-9]*\) to \[\(.*\)\]:\([0-9]*\)$/\1:\2 \3:\4/p' \
  "$work/ipv6.out")
[ -n "$udp_ends" ] || fail "ipv6: the sample named no datagram"
expect_datagrams ipv6 "$udp_ends 14"

trace overlapped overlapped.exe
check_sound overlapped
expect_streams overlapped "$(hex "overlapped with events")$(hex "routine") -"
expect_datagrams overlapped "$(said overlapped 'overlapped: WSARecvFrom completed with 24 bytes from \([0-9.:]*\)') * 24"

trace acceptex acceptex.exe
check_sound acceptex
expect_streams acceptex "$(hex "first bytes, sent by ConnectEx") -"

trace transmitfile transmitfile.exe
check_sound transmitfile
expect_streams transmitfile "$(hex "HEAD:")$(pattern 10000 5)$(hex ":TAIL") -"

trace poll_sendmsg poll_sendmsg.exe
check_sound poll_sendmsg
expect_streams poll_sendmsg "$(hex "ping")$(hex "gathered into one stream send by WSASendMsg") -"
expect_datagrams poll_sendmsg "* $(said poll_sendmsg 'poll_sendmsg: WSASendMsg: a datagram of 26 bytes to \([0-9.:]*\)') 26"

trace nonblocking nonblocking.exe
check_sound nonblocking
expect_streams nonblocking "$(hex "non-blocking hello")$(hex "non-") $(hex "non-blocking hello")"

trace async_select async_select.exe
check_sound async_select
expect_streams async_select "$(hex "message-driven hello") $(hex "message-driven hello")"

trace event_select event_select.exe
check_sound event_select
expect_streams event_select "$(hex "event-driven hello") -"

trace sockopts sockopts.exe
check_sound sockopts
expect_streams sockopts "$(pattern 100 3) -" "$(hex "sync") -"

trace wsarecvmsg wsarecvmsg.exe
check_sound wsarecvmsg
# the layer does not report WSARecvMsg: the datagram shows from its send alone
expect_datagrams wsarecvmsg "$(said wsarecvmsg 'wsarecvmsg: WSARecvMsg received 26 bytes from \([0-9.:]*\)') 127.0.0.1:* 26"

# WSADuplicateSocket's copy names no address: its bytes show in the connection, whose end
# received them, and again on a conversation of its own between stand-ins.
trace wsa_variants wsa_variants.exe
check_sound wsa_variants
duplicate=$(hex "sent through the duplicate")
expect_streams wsa_variants "$(hex "request, then WSASendDisconnect") $(hex "reply after the half close")$duplicate" \
  "- -" "$duplicate -"

# Six clients, each echoed whole on a connection of its own.
trace iocp_server iocp_server.exe 3000
check_sound iocp_server
echoes=$(streams "$work/iocp_server.pcapng" | awk '$1 == $2 && length($1) == 6000' | wc -l)
[ "$echoes" -eq 6 ] || fail "iocp_server: $echoes of the 6 connections carry their client's 3000 bytes both ways"

trace http run_pair.exe http_server.exe http_client.exe
check_sound http
port=$(tshark_quiet -r "$work/http.pcapng" -Y 'tcp.flags.syn == 1 && tcp.flags.ack == 0' -T fields -e tcp.dstport | head -1)
requests=$(tshark_quiet -r "$work/http.pcapng" -d "tcp.port==$port,http" -Y http.request -T fields \
  -e http.request.method -e http.request.uri -e http.request.version | tr '\t' ' ')
[ "$requests" = "GET /kestrix.bin HTTP/1.0
GET /missing HTTP/1.0" ] || fail "http: the HTTP dissector's requests are: $requests"
codes=$(tshark_quiet -r "$work/http.pcapng" -d "tcp.port==$port,http" -Y http.response -T fields -e http.response.code |
  tr '\n' ' ')
[ "$codes" = "200 404 " ] || fail "http: the HTTP dissector's status codes are: $codes"
body=$(awk 'BEGIN { for (i = 0; i < 256; i++) printf "%02x", i }')$(hex $'\r\nThis is the text part of the Kestrix sample document.\r\n')
http_streams=$(streams "$work/http.pcapng")
grep -q "^$(hex "GET /kestrix.bin HTTP/1.0")[0-9a-f]* $(hex "HTTP/1.0 200 OK")[0-9a-f]*$body\$" <<<"$http_streams" ||
  fail "http: no stream carries the request and the whole response with its body: $http_streams"
lengths=$(awk '{ print length($1) / 2, length($2) / 2 }' <<<"$http_streams" | sort | tr '\n' ' ')
[ "$lengths" = "100 151 104 447 " ] || fail "http: the streams carry $lengths bytes, the server moved 104/447 and 100/151"

if [ $failures -gt 0 ]; then
  echo "$failures checks failed"
  exit 1
fi
echo "every pcapng file reads well in tshark, with the samples' bytes and ports"

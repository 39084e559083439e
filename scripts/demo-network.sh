#!/usr/bin/env bash
# Builds the demonstration network inside the current (private) network namespace:
# a veth pair with 10.77.0.1/24, every address of the /24 local so each simulated
# terminal binds one of its own, and a default route so broadcasts have a way out
# that ends inside the namespace. Refuses to run anywhere but in a fresh namespace.
set -euo pipefail
# A fresh namespace has the loopback link and nothing else; anything more means
# this is a real network, which must not be touched.
links=$(ip -o link show | awk -F': ' '{print $2}' | tr '\n' ' ')
if [ "$links" != "lo " ]; then
  echo "demo-network: not inside a fresh private network namespace (links: $links); refusing" >&2
  exit 1
fi
ip link set lo up
ip link add demo0 type veth peer name demo1
ip link set demo0 up
ip link set demo1 up
ip addr add 10.77.0.1/24 brd + dev demo0
ip route add local 10.77.0.0/24 dev lo
ip route add default dev demo0

#!/usr/bin/env python3
"""Writes the seed corpora under corpus/<target>/ (run from anywhere).

The receiver's inputs use the framing described in receiver_fuzzer.cpp:
a socket-pair byte, then frames of [flags][length, 2 bytes little endian][bytes].
The seeds are committed; rerun this after changing them here.
"""
import os
import struct

HERE = os.path.dirname(os.path.abspath(__file__))
ROUTER, DEALER = 0, 1
D = b"\x00"  # delimiter frame
MSG_ID = b"0b5e6a52-3c1f-4c55-9d0e-5d2f3a1b7c90"
MSG_HEADERS = [b"ack_mode|1", b"app_id|app1", b"id|" + MSG_ID, b"origin|,",
               b"p_size|5", b"p_type|text", b"valid_for|20"]


def frames(*parts, more_last=False):
    """One ZeroMQ message: every frame but the last with more."""
    return [(p, True) for p in parts[:-1]] + [(parts[-1], more_last)]


def continued(message):
    """The message with more on its last frame too, so what follows joins it."""
    return [(data, True) for data, _ in message]


def encode(pair, *messages):
    out = bytes([pair])
    for message in messages:
        for data, more in message:
            out += bytes([1 if more else 0]) + struct.pack("<H", len(data)) + data
    return out


def message(routes=(b"nodeB",), headers=MSG_HEADERS, payload=b"hello"):
    return frames(*routes, D, b"MSG", *headers, D, payload)


WELL_FORMED = {
    "msg": message(),
    "msg_no_routes": message(routes=()),
    "msg_two_routes_origins": message(
        routes=(b"nodeB", b"nodeC"),
        headers=[h if not h.startswith(b"origin") else b"origin|n1,n2," for h in MSG_HEADERS]),
    "msg_empty_payload": message(
        headers=[h if not h.startswith(b"p_size") else b"p_size|0" for h in MSG_HEADERS],
        payload=b""),
    "reg": frames(D, b"REG", b"p_size|13", b"p_type|JSON", D, b'{"node1":{}}\n'),
    "box_client": frames(D, b"BOX", b"app_id|app1", b"box_type|clnt", D, D),
    "box_node": frames(D, b"BOX", b"app_id|node1", b"box_type|node", D, D),
    "ack": frames(D, b"ACK", b"msg_id|" + MSG_ID, D, D),
    "greg": frames(D, b"GREG", D, D),
}


def with_header(name, value):
    return [h for h in MSG_HEADERS if not h.startswith(name + b"|")] + (
        [name + b"|" + value] if value is not None else [])


# The malformed frame sequences are not here: the build writes their seeds
# (build/fuzz/seeds/receiver) from the table the framing and daemon tests use,
# tests/support/MalformedFrames.cpp, and the replay reads them from there.
ODD = {
    # Well-formed, with frames longer than the usual.
    "long_route": message(routes=(b"r" * 300,)),
    "long_header": frames(D, b"ACK", b"msg_id|" + b"i" * 500, D, D),
    # Leftovers: the next request starts inside this message.
    "box_extra_frame": continued(WELL_FORMED["box_client"]) + frames(b"extra"),
    "box_extra_request": continued(WELL_FORMED["box_client"]) + WELL_FORMED["greg"],
    "stoull_then_request": continued(message(headers=with_header(b"p_size", b"x")))
        + WELL_FORMED["greg"],
}


def write(target, name, data):
    folder = os.path.join(HERE, "corpus", target)
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, name), "wb") as f:
        f.write(data)


def receiver():
    for name, msg in {**WELL_FORMED, **ODD}.items():
        write("receiver", "router_" + name, encode(ROUTER, msg))
        write("receiver", "dealer_" + name, encode(DEALER, msg))
    # Several requests in one input, good and bad in turn.
    write("receiver", "router_sequence", encode(ROUTER, WELL_FORMED["ack"], frames(b"nodeB"),
                                                WELL_FORMED["msg"],
                                                message(headers=with_header(b"p_size", b"five")),
                                                WELL_FORMED["greg"]))
    write("receiver", "dealer_sequence", encode(DEALER, *WELL_FORMED.values()))
    write("receiver", "empty", b"")


def header_decoders():
    kinds = {"message": 0, "registry": 1, "inbox": 2, "ack": 3, "getregistry": 4}
    message_headers = b"\n".join(h for h in MSG_HEADERS if not h.startswith(b"p_"))
    seeds = {
        "message": message_headers,
        "message_origins": message_headers.replace(b"origin|,", b"origin|n1,n2,"),
        "message_no_id": message_headers.replace(b"id|" + MSG_ID + b"\n", b""),
        "message_bad_valid_for": message_headers.replace(b"valid_for|20", b"valid_for|x"),
        "message_huge_valid_for": message_headers.replace(b"valid_for|20", b"valid_for|99999999999999999999"),
        "message_bad_ack_mode": message_headers.replace(b"ack_mode|1", b"ack_mode|99999999999"),
        "message_extra_header": message_headers + b"\nextra|1",
        "registry": b"",
        "registry_extra_header": b"p_size|3",
        "inbox": b"app_id|app1\nbox_type|clnt",
        "inbox_node": b"app_id|node1\nbox_type|node",
        "inbox_bad_type": b"app_id|app1\nbox_type|other",
        "ack": b"msg_id|" + MSG_ID,
        "ack_missing": b"",
        "getregistry": b"",
        "getregistry_header": b"k|v",
    }
    for name, lines in seeds.items():
        kind = kinds[name.split("_")[0]]
        write("header_decoders", name, bytes([kind]) + lines)


def properties():
    with open(os.path.join(HERE, "..", "config", "kelnod.conf"), "rb") as f:
        write("properties", "kelnod_conf", f.read())
    seeds = {
        "duplicate_keys": b"a=1\na=2\n",
        "comments": b"# all comment\nkey=value # trailing\n#k=v\n",
        "no_separator": b"just a line\n=empty key\nempty value=\n",
        "crlf": b"a=1\r\nb=2\r\n",
        "numbers": b"n=42\nneg=-7\nbig=99999999999999999999\nx=abc\n",
        "zero_byte": b"k\x00ey=v\nv=a\x00b\n",
        "long_line": b"long=" + b"v" * 5000 + b"\n",
        "no_final_newline": b"a=1",
        "empty": b"",
    }
    for name, data in seeds.items():
        write("properties", name, data)


if __name__ == "__main__":
    receiver()
    header_decoders()
    properties()

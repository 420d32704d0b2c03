#!/usr/bin/python3
"""An independent AMQP client (pika) on the other end of the interop tests.

  pika_peer.py publish PORT QUEUE   publishes one message with every basic property and a header of every
                                    field type to QUEUE (declared by the test)
  pika_peer.py read PORT QUEUE N    takes N messages from QUEUE and prints, per message, its body, its
                                    properties and its headers as JSON lines
"""
import datetime
import decimal
import json
import sys

import pika

PROPERTIES = dict(
    content_type="application/x-kez",
    content_encoding="gzip",
    delivery_mode=2,
    priority=7,
    correlation_id="corr-42",
    reply_to="reply-queue",
    expiration="60000",
    message_id="msg-42",
    timestamp=1700000000,
    type="kez.test",
    user_id="guest",
    app_id="pika-peer",
)

# pika writes no floating-point field (and reads one as its integer part), so doubles stay out of here.
HEADERS = {
    "text": "Grüße",
    "int32": 42,
    "negative": -7,
    "int64": 5000000000,
    "true": True,
    "false": False,
    "decimal": decimal.Decimal("1.5"),
    "stamp": datetime.datetime(2023, 11, 14, 22, 13, 20),
    "table": {"inner": 1, "deeper": {"name": "x"}},
    "array": [1, "two", True],
    "bytes": b"\x01\xfe",
    "void": None,
}


def connect(port):
    parameters = pika.ConnectionParameters("127.0.0.1", int(port), credentials=pika.PlainCredentials("guest", "guest"))
    return pika.BlockingConnection(parameters)


def publish(port, queue):
    with connect(port) as connection:
        channel = connection.channel()
        channel.confirm_delivery()
        channel.basic_publish("", queue, "from pika".encode(), pika.BasicProperties(headers=HEADERS, **PROPERTIES))


def plain(value):
    if isinstance(value, bytes):
        return value.decode("utf-8", "replace")
    if isinstance(value, dict):
        return {k: plain(v) for k, v in value.items()}
    if isinstance(value, list):
        return [plain(v) for v in value]
    if isinstance(value, (decimal.Decimal, datetime.datetime)):
        return str(value)
    return value


def read(port, queue, count):
    with connect(port) as connection:
        channel = connection.channel()
        for _ in range(int(count)):
            method, properties, body = None, None, None
            for _ in range(200):
                method, properties, body = channel.basic_get(queue, auto_ack=True)
                if method:
                    break
                connection.sleep(0.05)
            if not method:
                print(json.dumps({"missing": True}))
                continue
            fields = {k: getattr(properties, k) for k in PROPERTIES}
            print(json.dumps({"body": body.hex(), "properties": fields, "headers": plain(properties.headers)},
                             sort_keys=True))


if __name__ == "__main__":
    if sys.argv[1] == "publish":
        publish(sys.argv[2], sys.argv[3])
    else:
        read(sys.argv[2], sys.argv[3], sys.argv[4])

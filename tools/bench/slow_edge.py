#!/usr/bin/env python3
"""TCP relay in front of a local server that caps every connection, and one more than the rest.

Each connection is held to RATE bytes per second from the server to the client, the first one
accepted to FIRST_RATE (as a slow CDN edge does). The cap is per TCP connection, however many
requests it carries, unlike a web server's per-request limit that each new request on a kept
connection starts afresh. Usage: slow_edge.py PORT_FILE TARGET_PORT RATE FIRST_RATE
(binds a free port on 127.0.0.1 and writes it to PORT_FILE).
"""
import asyncio
import os
import sys
import time

TARGET = int(sys.argv[2])
RATE = float(sys.argv[3])
FIRST_RATE = float(sys.argv[4])
accepted = 0


async def pump(reader, writer, rate):
    started = time.monotonic()
    sent = 0
    try:
        while True:
            block = await reader.read(16384 if rate else 65536)
            if not block:
                break
            writer.write(block)
            await writer.drain()
            sent += len(block)
            if rate:
                ahead = sent / rate - (time.monotonic() - started)
                if ahead > 0:
                    await asyncio.sleep(ahead)
    except (ConnectionError, OSError):
        pass
    finally:
        try:
            writer.close()
        except OSError:
            pass


async def serve(client_reader, client_writer):
    global accepted
    accepted += 1
    rate = FIRST_RATE if accepted == 1 else RATE
    server_reader, server_writer = await asyncio.open_connection("127.0.0.1", TARGET)
    await asyncio.gather(pump(client_reader, server_writer, 0),
                         pump(server_reader, client_writer, rate))


async def main():
    server = await asyncio.start_server(serve, "127.0.0.1", 0)
    port = server.sockets[0].getsockname()[1]
    with open(sys.argv[1] + ".tmp", "w") as f:
        f.write("%d\n" % port)
    os.replace(sys.argv[1] + ".tmp", sys.argv[1])
    async with server:
        await server.serve_forever()


asyncio.run(main())

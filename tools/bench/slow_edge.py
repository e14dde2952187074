#!/usr/bin/env python3
"""TCP relay in front of a local server that makes one connection slow, as a slow CDN edge does.

The first connection accepted is held to RATE bytes per second from the server to the client;
every other one is relayed as fast as it comes. Usage: slow_edge.py PORT_FILE TARGET_PORT RATE
(binds a free port on 127.0.0.1 and writes it to PORT_FILE).
"""
import asyncio
import os
import sys
import time

TARGET = int(sys.argv[2])
RATE = float(sys.argv[3])
accepted = 0


async def pump(reader, writer, rate):
    started = time.monotonic()
    sent = 0
    try:
        while True:
            block = await reader.read(65536 if rate == 0 else 16384)
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
    rate = RATE if accepted == 1 else 0
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

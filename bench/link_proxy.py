#!/usr/bin/env python3
"""A slow network link on loopback for scripts/bench, where the kernel has no netem: a TCP proxy
that delays every byte by half the round trip in each direction and caps each direction at the
link's rate, shared by all connections.

    link_proxy.py --rtt-ms 50 --mbit 100 LISTEN_PORT:TARGET_PORT [...]

Every listening port on 127.0.0.1 forwards to its target port on 127.0.0.1, all over the one
link. Bytes pass untouched (TLS too). Data leaves a sender's side as the link can take it (one
queue per direction, all connections in turn) and arrives half a round trip later. A new
connection's first bytes wait one round trip more, as they would behind the SYN and SYN-ACK.
Standard output gets a line when a connection opens ("open PORT") and one when it ends ("close
PORT DOWN UP": the bytes it delivered to the client and to the target), so the caller can count
connections and the bytes that crossed the link, which an aborted transfer makes fewer than the
server sent.
"""
import argparse
import asyncio
import collections
import sys

# Time a direction may have queued ahead of the wire (a router's queue): enough that a reader
# woken late on a busy machine still finds the link busy, small enough that an answer on another
# connection does not wait long behind a bulk transfer.
QUEUE_SECONDS = 0.05
# Bytes that may wait for a receiver that does not read: a receive window.
WINDOW_BYTES = 8 << 20


class Direction:
    """One direction of the link: a sender queue that drains at the rate, then the delay."""

    def __init__(self, rate_bytes, delay):
        self.rate = rate_bytes
        self.delay = delay
        self.free_at = 0.0
        # Pieces small enough that one occupies the wire ~2 ms: the rate holds at a fine grain.
        self.piece = max(4096, min(65536, int(rate_bytes * 0.002)))

    def send(self, size, now):
        """Puts size bytes on the wire; answers when they arrive at the other end."""
        start = max(now, self.free_at)
        self.free_at = start + size / self.rate
        return self.free_at + self.delay


class Pipe:
    """The bytes of one connection in one direction, between reading and their arrival time."""

    def __init__(self, reader, writer, direction, start_after):
        self.reader = reader
        self.writer = writer
        self.direction = direction
        self.start_after = start_after
        self.items = collections.deque()
        self.queued = 0
        self.delivered = 0
        self.arrived = asyncio.Event()
        self.space = asyncio.Event()

    async def read_side(self, loop):
        d = self.direction
        if self.start_after > loop.time():
            await asyncio.sleep(self.start_after - loop.time())
        while True:
            while self.queued > WINDOW_BYTES:
                self.space.clear()
                await self.space.wait()
            ahead = d.free_at - loop.time()
            if ahead > QUEUE_SECONDS:
                await asyncio.sleep(ahead - QUEUE_SECONDS)
                continue
            data = await self.reader.read(d.piece)
            now = loop.time()
            if not data:
                self.items.append((max(now, d.free_at) + d.delay, None))
                self.arrived.set()
                return
            self.items.append((d.send(len(data), now), data))
            self.queued += len(data)
            self.arrived.set()

    async def write_side(self, loop):
        while True:
            while not self.items:
                self.arrived.clear()
                await self.arrived.wait()
            due = self.items[0][0]
            wait = due - loop.time()
            if wait > 0:
                await asyncio.sleep(wait)
            now = loop.time()
            batch = []
            while self.items and self.items[0][0] <= now:
                _, data = self.items.popleft()
                if data is None:
                    if batch:
                        out = b"".join(batch)
                        self.writer.write(out)
                        self.delivered += len(out)
                    if self.writer.can_write_eof():
                        self.writer.write_eof()
                    await self.writer.drain()
                    return
                batch.append(data)
            if batch:
                out = b"".join(batch)
                self.writer.write(out)
                await self.writer.drain()
                self.delivered += len(out)
                self.queued -= len(out)
                self.space.set()


async def serve(args):
    loop = asyncio.get_running_loop()
    one_way = args.rtt_ms / 2000.0
    rate = args.mbit * 1e6 / 8
    upstream = Direction(rate, one_way)
    downstream = Direction(rate, one_way)

    def handler(target, port):
        async def handle(client_reader, client_writer):
            accepted = loop.time()
            print("open", port, flush=True)
            try:
                server_reader, server_writer = await asyncio.open_connection("127.0.0.1", target)
            except OSError:
                client_writer.transport.abort()
                print("close", port, 0, 0, flush=True)
                return
            up = Pipe(client_reader, server_writer, upstream, accepted + 2 * one_way)
            down = Pipe(server_reader, client_writer, downstream, 0.0)
            tasks = [asyncio.ensure_future(c) for c in (up.read_side(loop), up.write_side(loop),
                                                        down.read_side(loop),
                                                        down.write_side(loop))]
            failed = False
            try:
                await asyncio.gather(*tasks)
            except (OSError, asyncio.IncompleteReadError):
                failed = True
            finally:
                for t in tasks:
                    t.cancel()
                # A failure on either side ends both at once, as a reset from the real peer would.
                for w in (client_writer, server_writer):
                    if failed:
                        w.transport.abort()
                    else:
                        w.close()
                print("close", port, down.delivered, up.delivered, flush=True)
        return handle

    servers = []
    for pair in args.ports:
        listen, target = (int(p) for p in pair.split(":"))
        servers.append(await asyncio.start_server(handler(target, listen), "127.0.0.1", listen,
                                                  backlog=512))
    print("ready", flush=True)
    await asyncio.gather(*(s.serve_forever() for s in servers))


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--rtt-ms", type=float, required=True)
    parser.add_argument("--mbit", type=float, required=True)
    parser.add_argument("ports", nargs="+", metavar="LISTEN:TARGET")
    args = parser.parse_args()
    try:
        asyncio.run(serve(args))
    except KeyboardInterrupt:
        pass
    return 0


if __name__ == "__main__":
    sys.exit(main())

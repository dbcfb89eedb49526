// The whole system for the browser tests, on a loopback bus in a temporary
// folder: nats-server, tev-peers with the test's guide, the module in
// tevpvr-host and tev-web. Everything it starts is stopped by stop().
'use strict';
const { execFileSync, spawn } = require('node:child_process');
const fs = require('node:fs');
const net = require('node:net');
const os = require('node:os');
const path = require('node:path');

function freePort() {
  return new Promise((resolve, reject) => {
    const server = net.createServer();
    server.listen(0, '127.0.0.1', () => {
      const { port } = server.address();
      server.close(() => resolve(port));
    });
    server.on('error', reject);
  });
}

function xmlEscape(text) {
  return text.replace(/&/g, '&amp;').replace(/</g, '&lt;').replace(/>/g, '&gt;').replace(/"/g, '&quot;');
}

function xmltvTime(seconds) {
  return `${new Date(seconds * 1000).toISOString().replace(/[-:T]/g, '').slice(0, 14)} +0000`;
}

const sleep = (ms) => new Promise((resolve) => setTimeout(resolve, ms));

async function waitFor(what, done, seconds) {
  const deadline = Date.now() + seconds * 1000;
  for (;;) {
    try {
      if (await done()) return;
    } catch (e) { /* not yet */ }
    if (Date.now() > deadline) throw new Error(`${what}: not within ${seconds} s`);
    await sleep(200);
  }
}

class Stack {
  constructor(build, source) {
    this.build = build;
    this.source = source;
    this.children = [];
    this.dir = fs.mkdtempSync(path.join(process.env.TMPDIR || os.tmpdir(), 'tev-web-browser-'));
  }

  run(name, program, args, env = {}) {
    const log = fs.openSync(path.join(this.dir, `${name}.log`), 'a');
    const child = spawn(program, args, { stdio: ['ignore', log, log], env: { ...process.env, ...env } });
    fs.closeSync(log);
    this.children.push(child);
    return child;
  }

  // entries: [{channel: 'testcard.tev', title, start (s), seconds}];
  // channels: the line-up file tev-peers imports (default the samples').
  async start(entries, { channels } = {}) {
    this.busPort = await freePort();
    this.webPort = await freePort();
    this.url = `http://127.0.0.1:${this.webPort}`;
    const bus = `127.0.0.1:${this.busPort}`;
    this.bus = bus;
    let xml = '<?xml version="1.0" encoding="UTF-8"?>\n<tv>\n'
      + '<channel id="testcard.tev"><display-name>Test Card</display-name></channel>\n'
      + '<channel id="bars.tev"><display-name>Colour Bars</display-name></channel>\n'
      + '<channel id="mandel.tev"><display-name>Mandelbrot</display-name></channel>\n';
    for (const e of entries) {
      xml += `<programme start="${xmltvTime(e.start)}" stop="${xmltvTime(e.start + e.seconds)}" channel="${e.channel}">`
        + `<title>${xmlEscape(e.title)}</title><desc>${xmlEscape(e.title)} described</desc><category>Test</category></programme>\n`;
    }
    xml += '</tv>\n';
    fs.writeFileSync(path.join(this.dir, 'guide.xml'), xml);
    const registry = path.join(this.dir, 'registry.ini');
    this.registry = registry;
    fs.writeFileSync(registry, `[HKEY_LOCAL_MACHINE\\SOFTWARE\\TEV Networks\\Tev\\Config]\nvelDirectory.host=${bus}\n`);
    fs.mkdirSync(path.join(this.dir, 'documents'));
    fs.mkdirSync(path.join(this.dir, 'appdata'));

    this.run('nats', 'nats-server', ['-a', '127.0.0.1', '-p', String(this.busPort)]);
    await waitFor('nats-server', () => new Promise((resolve) => {
      const socket = net.connect(this.busPort, '127.0.0.1', () => { socket.end(); resolve(true); });
      socket.on('error', () => resolve(false));
    }), 20);
    const samples = path.join(this.source, 'peers/samples');
    this.run('peers', path.join(this.build, 'peers/tev-peers'), ['--host', bus, '--data', path.join(this.dir, 'peers'),
      '--channels', channels || path.join(samples, 'channels.json'), '--guide', path.join(this.dir, 'guide.xml'),
      '--tuners', path.join(samples, 'tuners.json'), '--no-shift', '--settings', registry]);
    this.run('web', path.join(this.build, 'web/tev-web'), ['--listen', `127.0.0.1:${this.webPort}`, '--host', bus,
      '--settings', registry, '--poll', '300']);
    await waitFor('the media library through tev-web', async () => (await this.get('/api/upcoming')).items !== undefined, 30);
    this.run('module', path.join(this.build, 'host/tevpvr-host'), [path.join(this.build, 'libTevPVR.so')], {
      TEV_APPDATA_DIR: path.join(this.dir, 'appdata'),
      TEV_DOCUMENTS_DIR: path.join(this.dir, 'documents'),
      TEV_REGISTRY_FILE: registry,
    });
    await waitFor('the module', async () => {
      const settings = await this.get('/api/settings');
      return settings.videoDir && (await this.get('/api/status')).ok;
    }, 60);
  }

  async get(route) {
    const res = await fetch(this.url + route);
    if (!res.ok) throw new Error(`${route}: ${res.status}`);
    return res.json();
  }

  // A changing request as the page makes it (same Origin); the JSON answer.
  async send(method, route, body) {
    const res = await fetch(this.url + route, {
      method,
      headers: { Origin: this.url, 'Content-Type': 'application/json' },
      body: body === undefined ? undefined : JSON.stringify(body),
    });
    const answer = await res.json().catch(() => ({}));
    if (!res.ok) throw new Error(`${method} ${route}: ${res.status} ${JSON.stringify(answer)}`);
    return answer;
  }

  // velctl on this bus with `args`; its output (throws on a non-zero exit).
  velctl(...args) {
    return execFileSync(path.join(this.build, 'tools/velctl'),
      ['--timeout', '20000', '--host', this.bus, '--settings', this.registry, ...args], { encoding: 'utf8' });
  }

  recordingFolder() { return path.join(this.dir, 'documents', 'Recorded TV'); }

  async stop() {
    for (const child of this.children.reverse()) {
      if (child.exitCode !== null || child.signalCode !== null) continue;
      const ended = new Promise((resolve) => child.once('exit', resolve));
      child.kill('SIGTERM');
      await Promise.race([ended, sleep(15000)]);
      if (child.exitCode === null && child.signalCode === null) child.kill('SIGKILL');
    }
    fs.rmSync(this.dir, { recursive: true, force: true });
  }
}

module.exports = { Stack, waitFor, sleep };

// Requests per second of `vellumo-cli mcp` and of a minimal server built on
// the MCP SDK, for one file of mixed requests piped through each, start-up
// included, the replies written to a file. Rounds alternate between the two; the best round counts.
// Usage: node bench.mjs <vellumo-cli> <work folder> [requests] [rounds]
import { execFileSync, spawn } from 'node:child_process';
import { closeSync, openSync, readFileSync, realpathSync, writeFileSync } from 'node:fs';
import { join } from 'node:path';

const [cli, work, requestArg = '10000', roundArg = '7'] = process.argv.slice(2);
const requests = Number(requestArg);
const rounds = Number(roundArg);
const here = import.meta.dirname;

const cliPath = realpathSync(cli);
const instructions =
  'Vellumo is controlled through its command-line tool, not MCP. Run `"' + cliPath +
  '" guide` for the full reference; every GUI action is available, for example ' +
  '`meetings list`, `meetings transcribe <id>` and `invoke <command> <json>`.';
const guideFile = join(work, 'guide.txt');
writeFileSync(guideFile, execFileSync(cli, ['guide']));
// "vellumo-cli <version> (protocol 1)": the contender names the same version.
const version = execFileSync(cli, ['version'], { encoding: 'utf8' }).split(' ')[1];

// What an agent sends: a handshake, then a mix of the methods a client uses,
// including one the servers do not offer.
const mix = [
  { method: 'tools/list' },
  { method: 'tools/call', params: { name: 'vellumo_use_cli', arguments: {} } },
  { method: 'ping' },
  { method: 'resources/list' },
  { method: 'prompts/list' },
  { method: 'tools/call', params: { name: 'vellumo_use_cli', arguments: {} } },
  { method: 'prompts/get', params: { name: 'x' } },
  { method: 'initialize', params: { protocolVersion: '2025-06-18', capabilities: {}, clientInfo: { name: 'bench', version: '1' } } },
];
const lines = [];
for (let id = 0; id < requests; ++id) {
  const request = id === 0 ? mix[mix.length - 1] : mix[id % mix.length];
  lines.push(JSON.stringify({ jsonrpc: '2.0', id, ...request }));
  if (id === 0) {
    lines.push(JSON.stringify({ jsonrpc: '2.0', method: 'notifications/initialized' }));
  }
}
const requestFile = join(work, 'requests.jsonl');
writeFileSync(requestFile, lines.join('\n') + '\n');
const emptyFile = join(work, 'empty.jsonl');
writeFileSync(emptyFile, '');

const contenders = [
  { name: 'vellumo-cli mcp', command: cli, args: ['mcp'] },
  { name: 'MCP SDK server (node)', command: process.execPath, args: [join(here, 'sdk_server.mjs'), guideFile, instructions, version] },
];

// Runs one contender on one input file, its replies going to a file: seconds
// from start to exit, and the number of reply lines.
const outputFile = join(work, 'replies.out');
function run(contender, inputFile) {
  return new Promise((resolve, reject) => {
    const input = openSync(inputFile, 'r');
    const output = openSync(outputFile, 'w');
    const started = process.hrtime.bigint();
    const child = spawn(contender.command, contender.args, { stdio: [input, output, 'inherit'] });
    closeSync(input);
    closeSync(output);
    child.on('error', reject);
    child.on('close', (code) => {
      const seconds = Number(process.hrtime.bigint() - started) / 1e9;
      if (code !== 0) {
        reject(new Error(`${contender.name} exited with ${code}`));
        return;
      }
      const replies = readFileSync(outputFile);
      let lines = 0;
      for (let i = replies.indexOf(10); i !== -1; i = replies.indexOf(10, i + 1)) {
        ++lines;
      }
      resolve({ seconds, replies: lines });
    });
  });
}

for (const c of contenders) {
  c.best = Infinity;
  c.startup = Infinity;
}
for (let round = 0; round < rounds; ++round) {
  for (const c of contenders) {
    const { seconds, replies } = await run(c, requestFile);
    if (replies !== requests) {
      throw new Error(`${c.name} sent ${replies} replies to ${requests} requests`);
    }
    c.best = Math.min(c.best, seconds);
    c.startup = Math.min(c.startup, (await run(c, emptyFile)).seconds);
  }
}

console.log(`${requests} mixed requests (${lines.length} lines, ${mix.length} kinds), best of ${rounds} rounds, start-up included:`);
for (const c of contenders) {
  const perSecond = requests / c.best;
  const steady = requests / Math.max(c.best - c.startup, 1e-6);
  console.log(
    `  ${c.name.padEnd(24)} ${(c.best * 1000).toFixed(1).padStart(8)} ms  ` +
    `${Math.round(perSecond).toLocaleString('en-US').padStart(11)} requests/s  ` +
    `(start and exit on empty input ${(c.startup * 1000).toFixed(1)} ms; ` +
    `${Math.round(steady).toLocaleString('en-US')} requests/s without it)`);
}
const [ours, theirs] = contenders;
console.log(`ratio: vellumo-cli mcp answers ${(theirs.best / ours.best).toFixed(1)}x the requests per second of the MCP SDK server`);

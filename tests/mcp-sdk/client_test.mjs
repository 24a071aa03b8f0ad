// Drives `vellumo-cli mcp` with the official MCP TypeScript SDK client:
// connect (initialize), list the tools, call the one tool, ping, close.
// Usage: node client_test.mjs <path of vellumo-cli> <empty temporary folder> <version>
import assert from 'node:assert/strict';
import { execFileSync } from 'node:child_process';
import { realpathSync } from 'node:fs';

import { Client } from '@modelcontextprotocol/sdk/client/index.js';
import { StdioClientTransport } from '@modelcontextprotocol/sdk/client/stdio.js';

const [cli, scratch, version] = process.argv.slice(2);
assert.ok(cli && scratch && version,
  'usage: client_test.mjs <vellumo-cli> <temporary folder> <version>');
// The server names itself by the path the system reports for it.
const cliPath = realpathSync(cli);
const env = { HOME: scratch, XDG_RUNTIME_DIR: scratch, PATH: scratch };

const instructions =
  'Vellumo is controlled through its command-line tool, not MCP. Run `"' + cliPath +
  '" guide` for the full reference; every GUI action is available, for example ' +
  '`meetings list`, `meetings transcribe <id>` and `invoke <command> <json>`.';

const transport = new StdioClientTransport({ command: cli, args: ['mcp'], env, stderr: 'pipe' });
let stderr = '';
transport.stderr.on('data', (chunk) => { stderr += chunk; });
const client = new Client({ name: 'vellumo-tests', version: '1.0.0' });

await client.connect(transport, { timeout: 10000 });
// The transport's own process handle, to see how the server ends.
const server = transport._process;
assert.ok(server, 'the transport holds no server process');
assert.deepEqual(client.getServerVersion(), { name: 'vellumo', version });
assert.deepEqual(client.getServerCapabilities(), { tools: {} });
assert.equal(client.getInstructions(), instructions);

const { tools } = await client.listTools();
assert.deepEqual(tools, [{
  name: 'vellumo_use_cli',
  description: instructions,
  inputSchema: { type: 'object', properties: {} },
}]);

const result = await client.callTool({ name: 'vellumo_use_cli', arguments: {} });
assert.equal(result.isError, false);
assert.equal(result.content.length, 1);
assert.equal(result.content[0].type, 'text');
const guide = result.content[0].text;
assert.ok(guide.startsWith('# Using Vellumo from an agent\n'), guide);
assert.ok(guide.includes('\nCLI: ' + cliPath + '\n'), guide);
// The very text that `vellumo-cli guide` prints.
assert.equal(guide, execFileSync(cli, ['guide'], { env, encoding: 'utf8' }));

assert.deepEqual(await client.ping(), {});
await client.close();
// Closing its input ends the server by itself (the transport would
// otherwise end it with a signal after two seconds).
assert.equal(server.signalCode, null);
assert.equal(server.exitCode, 0);
assert.equal(stderr, '');
console.log('MCP SDK client: initialize, tools/list, tools/call and ping answered as expected');

// The contender: a minimal MCP server written with the official TypeScript
// SDK, offering what `vellumo-cli mcp` offers (the instructions and one tool
// that returns the guide).
// Usage: node sdk_server.mjs <file holding the guide> <instructions text> <version>
import { readFileSync } from 'node:fs';

import { McpServer } from '@modelcontextprotocol/sdk/server/mcp.js';
import { StdioServerTransport } from '@modelcontextprotocol/sdk/server/stdio.js';

const [guideFile, instructions, version] = process.argv.slice(2);
const guide = readFileSync(guideFile, 'utf8');

const server = new McpServer({ name: 'vellumo', version }, { instructions });
server.registerTool('vellumo_use_cli', { description: instructions }, async () => ({
  content: [{ type: 'text', text: guide }],
  isError: false,
}));
await server.connect(new StdioServerTransport());

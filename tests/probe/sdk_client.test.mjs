// The official MCP client SDK drives the real calorim-probe-sim over stdio, as
// an agent host does: the SDK negotiates the revision, checks every message
// against its own schemas and every tool's structuredContent against the
// tool's outputSchema (a mismatch makes callTool throw). Run by ctest through
// `node --test`, with PROBE_SIM_BINARY naming the server.

import assert from 'node:assert/strict';
import { test } from 'node:test';

import { Client } from '@modelcontextprotocol/sdk/client/index.js';
import { StdioClientTransport } from '@modelcontextprotocol/sdk/client/stdio.js';
import {
  CallToolResultSchema,
  ErrorCode,
  InitializeResultSchema,
  LATEST_PROTOCOL_VERSION,
  ListToolsResultSchema,
  McpError,
} from '@modelcontextprotocol/sdk/types.js';

const server = process.env.PROBE_SIM_BINARY;
assert.ok(server, 'PROBE_SIM_BINARY names calorim-probe-sim');

// A connected client, and the errors the SDK reported on the side (a
// response for an unknown or cancelled request would land there).
async function connect() {
  const client = new Client({ name: 'calorim-test', version: '1.0.0' });
  const sideErrors = [];
  client.onerror = (error) => sideErrors.push(error);
  await client.connect(new StdioClientTransport({ command: server, stderr: 'inherit' }));
  return { client, sideErrors };
}

const textOf = (result) => result.content[0].text;

test('the catalogue, and every tool typed and validated by the SDK', async () => {
  const { client, sideErrors } = await connect();
  try {
    assert.equal(client.getServerVersion().name, 'calorim-power');
    assert.match(client.getInstructions(), /about 65 s/);

    const { tools } = await client.listTools();
    assert.deepEqual(tools.map((tool) => tool.name), [
      'power_snapshot', 'power_begin_window', 'power_end_window', 'power_is_throttling',
      'power_headroom', 'power_cooldown', 'power_system_info', 'power_top_processes',
    ]);
    for (const tool of tools) {
      assert.ok(tool.title, tool.name);
      assert.equal(tool.annotations.destructiveHint, false, tool.name);
      assert.equal(tool.annotations.openWorldHint, false, tool.name);
      assert.equal(tool.outputSchema.type, 'object', tool.name);
    }
    const readOnly = Object.fromEntries(tools.map((tool) => [tool.name, tool.annotations.readOnlyHint]));
    assert.equal(readOnly.power_snapshot, true);
    assert.equal(readOnly.power_begin_window, false);

    const calls = [
      ['power_begin_window', { name: 'sdk' }],
      ['power_snapshot', {}],
      ['power_end_window', { name: 'sdk' }],
      ['power_is_throttling', {}],
      ['power_headroom', {}],
      ['power_cooldown', { target_temp: 150 }],
      ['power_system_info', {}],
      ['power_top_processes', { limit: 3 }],
    ];
    for (const [name, args] of calls) {
      const result = await client.callTool({ name, arguments: args });
      assert.notEqual(result.isError, true, name);
      assert.deepEqual(result.structuredContent, JSON.parse(textOf(result)), name);
    }
    const info = await client.callTool({ name: 'power_system_info' });
    assert.match(info.structuredContent.machineName, /\(simulated\)$/);
    await client.ping();
    assert.deepEqual(sideErrors, []);
  } finally {
    await client.close();
  }
});

test('arguments the tool cannot use, and calls that name no tool', async () => {
  const { client } = await connect();
  try {
    const cases = [
      ['power_cooldown', { target_temp: 'hot' }, /'target_temp' must be a number from -50 to 150/],
      ['power_cooldown', { target_temp: 1000 }, /'target_temp' must be a number from -50 to 150/],
      ['power_begin_window', { name: 42 }, /'name' must be a string/],
      ['power_top_processes', { limit: 0 }, /'limit' must be an integer from 1 to 50/],
    ];
    for (const [name, args, message] of cases) {
      const result = await client.callTool({ name, arguments: args });
      assert.equal(result.isError, true, name);
      assert.match(JSON.parse(textOf(result)).error, message);
      assert.equal(result.structuredContent, undefined);
    }
    for (const params of [{}, { name: 5 }]) {
      await assert.rejects(client.request({ method: 'tools/call', params }, CallToolResultSchema),
        (error) => error instanceof McpError && error.code === ErrorCode.InvalidParams);
    }
  } finally {
    await client.close();
  }
});

test('a cancelled cooldown ends, goes unanswered, and the next request is answered at once', async () => {
  const { client, sideErrors } = await connect();
  try {
    // A cancellation for a request that is not running changes nothing.
    await client.notification({ method: 'notifications/cancelled', params: { requestId: 9999 } });
    await client.ping();

    const waiting = new AbortController();
    let progressed;
    const progress = new Promise((resolve) => { progressed = resolve; });
    const call = client.callTool({ name: 'power_cooldown', arguments: { target_temp: -50 } }, undefined, {
      signal: waiting.signal, timeout: 120_000, onprogress: progressed,
    });
    await progress;  // a second into the wait
    waiting.abort('no longer needed');
    await assert.rejects(call);

    // Far less than the minute the wait would have lasted.
    const started = Date.now();
    await client.ping();
    const info = await client.callTool({ name: 'power_system_info' });
    assert.equal(info.isError, undefined);
    assert.ok(Date.now() - started < 10_000, `answered after ${Date.now() - started} ms`);
    assert.deepEqual(sideErrors, []);
  } finally {
    await client.close();
  }
});

test('a host of the first revision sees the catalogue it always saw', async () => {
  const transport = new StdioClientTransport({ command: server, stderr: 'inherit' });
  const answers = new Map();
  const waiters = new Map();
  transport.onmessage = (message) => {
    if (message.id === undefined) return;
    answers.set(message.id, message);
    waiters.get(message.id)?.();
  };
  const ask = (id, method, params) => new Promise((resolve) => {
    waiters.set(id, () => resolve(answers.get(id)));
    transport.send({ jsonrpc: '2.0', id, method, ...(params ? { params } : {}) });
  });
  await transport.start();
  try {
    const init = await ask(1, 'initialize', {
      protocolVersion: '2024-11-05', capabilities: {}, clientInfo: { name: 'old-host', version: '1' },
    });
    const initResult = InitializeResultSchema.parse(init.result);
    assert.equal(initResult.protocolVersion, '2024-11-05');
    assert.notEqual(initResult.protocolVersion, LATEST_PROTOCOL_VERSION);
    assert.equal(initResult.instructions, undefined);
    await transport.send({ jsonrpc: '2.0', method: 'notifications/initialized' });

    const { tools } = ListToolsResultSchema.parse((await ask(2, 'tools/list')).result);
    assert.equal(tools.length, 8);
    for (const tool of tools) {
      assert.deepEqual(Object.keys(tool), ['name', 'description', 'inputSchema'], tool.name);
    }
    const call = CallToolResultSchema.parse((await ask(3, 'tools/call', { name: 'power_system_info' })).result);
    assert.equal(call.structuredContent, undefined);
    assert.equal(JSON.parse(textOf(call)).chipName, 'Apple M3 Pro');
    assert.deepEqual((await ask(4, 'ping')).result, {});
  } finally {
    await transport.close();
  }
});

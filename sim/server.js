#!/usr/bin/env node
'use strict';
// Entry point of the stand-in classroom service; see README.md.

const { parseArgs, USAGE } = require('./lib/args');

function log(line) {
  process.stderr.write('[stand-in] ' + line + '\n');
}

async function main() {
  // A reader that went away must not turn every log line into a new error.
  process.stdout.on('error', () => {});
  process.stderr.on('error', () => {});
  let opts;
  try {
    opts = parseArgs(process.argv.slice(2));
  } catch (e) {
    process.stderr.write(e.message + '\n' + USAGE);
    process.exit(2);
  }
  if (opts.help) {
    process.stderr.write(USAGE);
    process.exit(0);
  }
  const { StandInApp } = require('./lib/app');
  const app = new StandInApp(Object.assign({}, opts, { log }));
  let stopping = false;
  const shutdown = (why) => {
    if (stopping)
      return;
    stopping = true;
    log('stopping: ' + why);
    // Whatever happens, do not outlive a stop request by much.
    setTimeout(() => process.exit(0), 3000).unref();
    app.stop().then(() => process.exit(0), () => process.exit(0));
  };
  process.on('SIGTERM', () => shutdown('SIGTERM'));
  process.on('SIGINT', () => shutdown('SIGINT'));
  process.on('uncaughtException', (e) => log('uncaught: ' + (e && e.stack)));
  process.on('unhandledRejection', (e) => log('unhandled rejection: ' + (e && e.stack)));
  let urls;
  try {
    urls = await app.start();
  } catch (e) {
    log('could not start: ' + e.message);
    process.exit(1);
  }
  process.stdout.write(JSON.stringify(urls) + '\n');
  log(`listening on ${urls.server}`);
  if (!opts.ignoreStdin) {
    process.stdin.on('end', () => shutdown('stdin closed'));
    process.stdin.on('close', () => shutdown('stdin closed'));
    process.stdin.on('error', () => shutdown('stdin error'));
    process.stdin.resume();
  }
  if (opts.maxLifetime > 0)
    setTimeout(() => shutdown('maximum lifetime reached'), opts.maxLifetime * 1000);
}

main();

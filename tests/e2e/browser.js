// Stands in for the user's browser in the browser sign-in test. The app opens the sign-in
// link with it ($BROWSER="node browser.js %s"). With Debian's chromium it first lets a page of
// another loopback origin try to hand back a forged session, then signs in on the service's page,
// which hands the session to the app. Writes what it saw as JSON to $PINLARK_E2E_RESULT.
'use strict';
const fs = require('fs');
const http = require('http');
const { chromium } = require('playwright-core');

async function forge(page, port, state) {
  const forger = http.createServer((req, res) => {
    res.writeHead(200, { 'content-type': 'text/html' });
    res.end('<!doctype html><title>elsewhere</title>');
  });
  await new Promise((resolve) => forger.listen(0, '127.0.0.1', resolve));
  try {
    await page.goto(`http://127.0.0.1:${forger.address().port}/`);
    // text/plain goes out without a pre-flight: the app itself has to refuse it. Whatever it
    // answers, the browser keeps from this page. Had the app taken the forged session, the real
    // hand-back after it would find the sign-in over, and the app would hold a "forged" token.
    await page.evaluate(async ({ port, state }) => {
      await fetch(`http://127.0.0.1:${port}/`, {
        method: 'POST', headers: { 'Content-Type': 'text/plain' },
        body: JSON.stringify({ token: 'forged', cookieName: 'authjs.session-token', state }),
      }).catch(() => {});
    }, { port, state });
  } finally {
    forger.close();
  }
}

async function main() {
  const link = new URL(process.argv[2]);
  const result = {};
  const browser = await chromium.launch({
    executablePath: process.env.PINLARK_CHROMIUM || '/usr/bin/chromium',
    args: ['--no-sandbox', '--disable-gpu'],
  });
  try {
    const page = await browser.newPage();
    await forge(page, link.searchParams.get('port'),
                                link.searchParams.get('state'));
    await page.goto(link.href);
    await page.fill('input[name=email]', 'browser@example.test');
    await Promise.all([
      page.waitForURL((u) => u.pathname === '/connect/mac'),
      page.click('button[type=submit]'),
    ]);
    // The page's status once its script has an answer (not before the page has it at all).
    await page.waitForFunction(() => {
      const status = document.getElementById('status');
      return status && status.dataset.result !== 'pending';
    });
    result.handBack = await page.$eval('#status', (e) => e.dataset.result);
  } catch (e) {
    result.error = String(e);
  } finally {
    await browser.close();
    fs.writeFileSync(process.env.PINLARK_E2E_RESULT, JSON.stringify(result));
  }
}

main();

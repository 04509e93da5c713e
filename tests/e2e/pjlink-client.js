// Drives a projector through the npm network-projector client, as a room controller would, and
// prints what each step got as one JSON object on stdout.
//
//   node pjlink-client.js PORT PASSWORD
//
// The client comes from NODE_PATH (the build tree's npm folder).

'use strict';

const PJLink = require('pjlink');

const port = Number(process.argv[2]);
const password = process.argv[3];

// One call of the client as a promise: { err, value }.
function call(client, method, ...args) {
    return new Promise((resolve) => {
        client[method](...args, (err, ...values) => {
            resolve({ err: err ? err.message : null, value: values.length > 1 ? values : values[0] });
        });
    });
}

const sleep = (ms) => new Promise((resolve) => setTimeout(resolve, ms));

// Polls the power state until it is `wanted`; the states seen on the way, in order, once each.
async function powerUntil(client, wanted, limitMs) {
    const seen = [];
    const end = Date.now() + limitMs;
    while (Date.now() < end) {
        const { err, value } = await call(client, 'getPowerState');
        const state = err ? err : value;
        if (seen[seen.length - 1] !== state)
            seen.push(state);
        if (state === wanted)
            break;
        await sleep(200);
    }
    return seen;
}

async function main() {
    const client = new PJLink('127.0.0.1', port, password);
    const r = {};
    r.class = await call(client, 'getClass');
    r.name = await call(client, 'getName');
    r.manufacturer = await call(client, 'getManufacturer');
    r.model = await call(client, 'getModel');
    r.info = await call(client, 'getInfo');
    r.inputs = await call(client, 'getInputs');
    r.powerBefore = await call(client, 'getPowerState');
    r.inputInStandby = await call(client, 'setInput', 31);
    r.powerOn = await call(client, 'powerOn');
    r.warmingUp = await powerUntil(client, 1, 20000);
    r.setInput = await call(client, 'setInput', 31);
    r.input = await call(client, 'getInput');
    r.muteBoth = await call(client, 'setMute', { video: true, audio: true });
    r.muted = await call(client, 'getMute');
    r.unmute = await call(client, 'setMute', { video: false, audio: false });
    r.unmuted = await call(client, 'getMute');
    r.errors = await call(client, 'getErrors');
    r.lamps = await call(client, 'getLamps');
    r.powerOff = await call(client, 'powerOff');
    r.powerOnWhileCooling = await call(client, 'powerOn');
    r.coolingDown = await powerUntil(client, 0, 20000);
    client.disconnect();

    const intruder = new PJLink('127.0.0.1', port, password + 'x');
    r.wrongPassword = await call(intruder, 'getPowerState');
    intruder.disconnect();

    process.stdout.write(JSON.stringify(r) + '\n');
}

main().catch((error) => {
    process.stderr.write(String(error.stack || error) + '\n');
    process.exit(1);
});

// Runs the Khronos glTF Validator on each file named and prints one line per file:
//   FILE: N errors, M warnings
// followed by the errors' codes and pointers. Exits 1 if any file has an error.
// Usage: node validate.js VALIDATOR_MODULE_DIR FILE...
'use strict';
const fs = require('fs');
const path = require('path');
const validator = require(path.resolve(process.argv[2], 'gltf-validator'));

async function check(file) {
    const bytes = new Uint8Array(fs.readFileSync(file));
    const report = await validator.validateBytes(bytes, {
        uri: path.basename(file),
        maxIssues: 100,
        externalResourceFunction: (uri) =>
            new Promise((resolve, reject) => {
                fs.readFile(path.resolve(path.dirname(file), decodeURIComponent(uri)),
                            (err, data) => (err ? reject(err.toString()) : resolve(new Uint8Array(data))));
            }),
    });
    const issues = report.issues;
    console.log(`${file}: ${issues.numErrors} errors, ${issues.numWarnings} warnings`);
    for (const m of issues.messages)
        if (m.severity === 0)
            console.log(`  ${m.code} ${m.pointer || ''} ${m.message}`);
    return issues.numErrors;
}

(async () => {
    let errors = 0;
    for (const file of process.argv.slice(3))
        errors += await check(file).catch((e) => { console.log(`${file}: ${e}`); return 1; });
    process.exit(errors > 0 ? 1 : 0);
})();

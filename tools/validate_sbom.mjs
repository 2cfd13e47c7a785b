// Validates CycloneDX 1.6 JSON documents with the CycloneDX project's own
// strict validator, installed by scripts/check-package into a folder of its
// own (tools/sbom-validator/ pins it):
//   node tools/validate_sbom.mjs PREFIX FILE...
// Exit status: 0 all valid, 1 some refused, 2 the validator could not run.
import { readFile } from 'node:fs/promises'
import { createRequire } from 'node:module'
import { join, resolve } from 'node:path'

const [prefix, ...files] = process.argv.slice(2)
if (!prefix || files.length === 0) {
  console.error('usage: validate_sbom.mjs PREFIX FILE...')
  process.exit(2)
}
let refused = 0
try {
  // Loaded from the prefix's node_modules, not from beside this script.
  const require = createRequire(join(resolve(prefix), 'package.json'))
  const { Validation } = require('@cyclonedx/cyclonedx-library')
  // The library's own name for CycloneDX 1.6 (its Version.v1dot6).
  const validator = new Validation.JsonStrictValidator('1.6')
  for (const file of files) {
    const errors = await validator.validate(await readFile(file, 'utf8'))
    if (errors === null) {
      console.log(`${file}: valid CycloneDX 1.6`)
    } else {
      refused++
      // ajv's errors; an enum's whole list of values would drown the rest.
      const lines = Array.isArray(errors)
        ? errors.map(e => `  ${e.instancePath || '/'}: ${e.message}`)
        : [`  ${JSON.stringify(errors)}`]
      console.log(`${file}: refused\n${lines.join('\n')}`)
    }
  }
} catch (err) {
  console.error(`validate_sbom: ${err.stack ?? err}`)
  process.exit(2)
}
process.exit(refused ? 1 : 0)

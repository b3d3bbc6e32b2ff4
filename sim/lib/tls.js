'use strict';
// A throw-away certificate authority and server certificate for 127.0.0.1,
// ::1 and localhost, made with the openssl command line at start.

const { execFileSync } = require('child_process');
const fs = require('fs');
const os = require('os');
const path = require('path');

function openssl(args, cwd) {
  execFileSync('openssl', args, { cwd, stdio: ['ignore', 'ignore', 'pipe'] });
}

// Returns {dir, caFile, key, cert (leaf then CA), ca}.
function generateCertificates() {
  const dir = fs.mkdtempSync(path.join(os.tmpdir(), 'veltro-sim-tls-'));
  const ec = ['-newkey', 'ec', '-pkeyopt', 'ec_paramgen_curve:prime256v1', '-nodes'];
  openssl(['req', '-x509', ...ec, '-keyout', 'ca.key', '-out', 'ca.pem', '-days', '30',
    '-subj', '/CN=Veltro Stand-in Test CA',
    '-addext', 'basicConstraints=critical,CA:TRUE',
    '-addext', 'keyUsage=critical,keyCertSign,cRLSign'], dir);
  openssl(['req', ...ec, '-keyout', 'server.key', '-out', 'server.csr', '-subj', '/CN=localhost'], dir);
  fs.writeFileSync(path.join(dir, 'server.ext'),
    'basicConstraints=CA:FALSE\nkeyUsage=critical,digitalSignature,keyEncipherment\n' +
    'extendedKeyUsage=serverAuth\nsubjectAltName=IP:127.0.0.1,IP:::1,DNS:localhost\n');
  openssl(['x509', '-req', '-in', 'server.csr', '-CA', 'ca.pem', '-CAkey', 'ca.key', '-CAcreateserial',
    '-out', 'server.pem', '-days', '30', '-extfile', 'server.ext'], dir);
  const ca = fs.readFileSync(path.join(dir, 'ca.pem'), 'utf8');
  const leaf = fs.readFileSync(path.join(dir, 'server.pem'), 'utf8');
  return {
    dir,
    caFile: path.join(dir, 'ca.pem'),
    key: fs.readFileSync(path.join(dir, 'server.key'), 'utf8'),
    cert: leaf + ca,
    ca,
  };
}

function removeCertificates(tls) {
  if (tls && tls.dir)
    fs.rmSync(tls.dir, { recursive: true, force: true });
}

module.exports = { generateCertificates, removeCertificates };

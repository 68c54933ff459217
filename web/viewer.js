// The viewer page: loads a content file into the library built for WebAssembly
// (orvane_viewer.js/.wasm, calls in viewer.c), plays its clips and draws the skinned meshes
// and the skeleton with WebGL2. Plain JavaScript, no libraries.
//
// window.orvaneViewer is what the browser test drives: status ('loading', 'ready', 'error'),
// error, frames drawn, pause(), seek(seconds), checksum(), open(url).
'use strict';

(function () {
  const $ = (id) => document.getElementById(id);
  const ui = {
    picker: $('picker'), status: $('status'), error: $('error'), model: $('model'), clip: $('clip'),
    blendClip: $('blendClip'), weight: $('weight'), weightValue: $('weightValue'), play: $('play'),
    loop: $('loop'), speed: $('speed'), speedValue: $('speedValue'), timeline: $('timeline'),
    timeValue: $('timeValue'), showMesh: $('showMesh'), showBones: $('showBones'),
    timings: $('timings'), canvas: $('canvas'), view: $('view'), drop: $('drop'),
  };
  const api = { status: 'loading', error: '', frames: 0, poseMs: 0, frameMs: 0 };
  window.orvaneViewer = api;

  let M = null;          // the WebAssembly module
  let call = {};         // its calls, wrapped
  let playing = true;
  let time = 0;          // the model clock, seconds
  let last = 0;          // the previous frame's performance.now()
  let meshes = [];       // GPU buffers per mesh
  let bones = null;      // GPU buffer of the skeleton's lines
  let camera = { yaw: 0.6, pitch: 0.25, distance: 3, target: [0, 1, 0], up: 2 };
  let poseTimes = [], frameTimes = [], countersAt = 0, counterFrames = 0, counterText = '';

  function showError(text) {
    api.error = text;
    ui.error.textContent = text;
    if (text) {
      api.status = 'error';
      ui.status.textContent = 'Nothing loaded.';
    }
  }

  // ---- WebGL ----------------------------------------------------------------------------
  const gl = ui.canvas.getContext('webgl2', { antialias: true, preserveDrawingBuffer: true });
  if (!gl) {
    showError('This browser has no WebGL2.');
    return;
  }

  function program(vertex, fragment) {
    const p = gl.createProgram();
    for (const [type, text] of [[gl.VERTEX_SHADER, vertex], [gl.FRAGMENT_SHADER, fragment]]) {
      const s = gl.createShader(type);
      gl.shaderSource(s, text);
      gl.compileShader(s);
      if (!gl.getShaderParameter(s, gl.COMPILE_STATUS)) throw new Error(gl.getShaderInfoLog(s));
      gl.attachShader(p, s);
    }
    gl.linkProgram(p);
    if (!gl.getProgramParameter(p, gl.LINK_STATUS)) throw new Error(gl.getProgramInfoLog(p));
    return p;
  }

  const meshProgram = program(`#version 300 es
    layout(location = 0) in vec3 position;
    layout(location = 1) in vec3 normal;
    layout(location = 2) in vec2 uv;
    uniform mat4 viewProjection;
    uniform mat3 upright;
    out vec3 vNormal;
    out vec2 vUv;
    void main() {
      vNormal = upright * normal;
      vUv = uv;
      gl_Position = viewProjection * vec4(upright * position, 1.0);
    }`, `#version 300 es
    precision mediump float;
    in vec3 vNormal;
    in vec2 vUv;
    uniform sampler2D map;
    uniform bool textured;
    out vec4 color;
    void main() {
      vec3 n = normalize(vNormal);
      float light = 0.35 + 0.65 * max(dot(n, normalize(vec3(0.4, 0.8, 0.6))), 0.0);
      vec3 base = textured ? texture(map, vUv).rgb : vec3(0.72, 0.74, 0.78);
      color = vec4(base * light, 1.0);
    }`);
  const lineProgram = program(`#version 300 es
    layout(location = 0) in vec3 position;
    uniform mat4 viewProjection;
    uniform mat3 upright;
    void main() {
      gl_Position = viewProjection * vec4(upright * position, 1.0);
      gl_PointSize = 5.0;
    }`, `#version 300 es
    precision mediump float;
    uniform vec4 tint;
    out vec4 color;
    void main() { color = tint; }`);

  function uniforms(p, names) {
    const u = {};
    for (const n of names) u[n] = gl.getUniformLocation(p, n);
    return u;
  }
  const meshUniforms = uniforms(meshProgram, ['viewProjection', 'upright', 'map', 'textured']);
  const lineUniforms = uniforms(lineProgram, ['viewProjection', 'upright', 'tint']);

  // Column-major 4x4 matrices for WebGL.
  function perspective(fovy, aspect, near, far) {
    const f = 1 / Math.tan(fovy / 2), r = 1 / (near - far);
    return [f / aspect, 0, 0, 0, 0, f, 0, 0, 0, 0, (far + near) * r, -1, 0, 0, 2 * far * near * r, 0];
  }
  function lookAt(eye, at) {
    const sub = (a, b) => [a[0] - b[0], a[1] - b[1], a[2] - b[2]];
    const norm = (a) => { const l = Math.hypot(a[0], a[1], a[2]) || 1; return [a[0] / l, a[1] / l, a[2] / l]; };
    const cross = (a, b) => [a[1] * b[2] - a[2] * b[1], a[2] * b[0] - a[0] * b[2], a[0] * b[1] - a[1] * b[0]];
    const dot = (a, b) => a[0] * b[0] + a[1] * b[1] + a[2] * b[2];
    const z = norm(sub(eye, at)), x = norm(cross([0, 1, 0], z)), y = cross(z, x);
    return [x[0], y[0], z[0], 0, x[1], y[1], z[1], 0, x[2], y[2], z[2], 0, -dot(x, eye), -dot(y, eye), -dot(z, eye), 1];
  }
  function multiply(a, b) {
    const m = new Array(16).fill(0);
    for (let c = 0; c < 4; ++c)
      for (let r = 0; r < 4; ++r)
        for (let k = 0; k < 4; ++k) m[c * 4 + r] += a[k * 4 + r] * b[c * 4 + k];
    return m;
  }
  // Turns the file's up axis into the page's y (column-major 3x3).
  function upright(axis) {
    switch (axis) {
      case 3: return [1, 0, 0, 0, 0, -1, 0, 1, 0];   // z up: y' = z, z' = -y
      case -3: return [1, 0, 0, 0, 0, 1, 0, -1, 0];
      case 1: return [0, 1, 0, -1, 0, 0, 0, 0, 1];   // x up
      case -1: return [0, -1, 0, 1, 0, 0, 0, 0, 1];
      case -2: return [1, 0, 0, 0, -1, 0, 0, 0, -1];
      default: return [1, 0, 0, 0, 1, 0, 0, 0, 1];
    }
  }

  // ---- The library --------------------------------------------------------------------------
  function wrap() {
    const w = (name, ret, args) => M.cwrap(name, ret, args);
    call = {
      open: w('ViewerOpen', 'number', ['string']), error: w('ViewerError', 'string', []),
      modelCount: M._ViewerModelCount, modelName: w('ViewerModelName', 'string', ['number']),
      clipCount: M._ViewerClipCount, clipName: w('ViewerClipName', 'string', ['number']),
      clipDuration: M._ViewerClipDuration, upAxis: M._ViewerUpAxis,
      selectModel: M._ViewerSelectModel, play: M._ViewerPlay, setWeight: M._ViewerSetBlendWeight,
      pose: M._ViewerPose, boneCount: M._ViewerBoneCount, boneParents: M._ViewerBoneParents,
      bonePositions: M._ViewerBonePositions, meshCount: M._ViewerMeshCount,
      vertexCount: M._ViewerMeshVertexCount, vertices: M._ViewerMeshVertices,
      indexCount: M._ViewerMeshIndexCount, indices: M._ViewerMeshIndices,
      textureWidth: M._ViewerMeshTextureWidth, textureHeight: M._ViewerMeshTextureHeight,
      texture: M._ViewerMeshTexture, checksum: M._ViewerChecksum,
      counters: w('ViewerCounters', 'string', []),
    };
  }

  function freeGpu() {
    for (const m of meshes) {
      gl.deleteBuffer(m.vertexBuffer);
      gl.deleteBuffer(m.indexBuffer);
      gl.deleteVertexArray(m.vao);
      if (m.texture) gl.deleteTexture(m.texture);
    }
    meshes = [];
    if (bones) {
      gl.deleteBuffer(bones.buffer);
      gl.deleteVertexArray(bones.vao);
      bones = null;
    }
  }

  function fillSelect(select, count, name, none) {
    select.innerHTML = '';
    if (none) select.add(new Option('(none)', '-1'));
    for (let i = 0; i < count; ++i) select.add(new Option(name(i) || `#${i}`, String(i)));
  }

  // Opens the bytes of a content file under `name`.
  function openBytes(bytes, name) {
    showError('');
    api.status = 'loading';
    freeGpu();
    try { M.FS.unlink('/content.ovn'); } catch (e) { /* none yet */ }
    M.FS.writeFile('/content.ovn', new Uint8Array(bytes));
    if (!call.open('/content.ovn')) {
      showError(`${name}: cannot be shown: ${call.error()}`);
      fillSelect(ui.model, 0); fillSelect(ui.clip, 0); fillSelect(ui.blendClip, 0, null, true);
      return false;
    }
    fillSelect(ui.model, call.modelCount(), call.modelName);
    ui.status.textContent = `${name}: ${call.modelCount()} model(s), ${call.clipCount()} clip(s)`;
    return selectModel(0);
  }

  function selectModel(index) {
    freeGpu();
    if (!call.selectModel(index)) {
      showError(`The model cannot be shown: ${call.error()}`);
      return false;
    }
    camera.up = call.upAxis();
    for (let m = 0; m < call.meshCount(); ++m) {
      const vao = gl.createVertexArray();
      gl.bindVertexArray(vao);
      const vertexBuffer = gl.createBuffer();
      gl.bindBuffer(gl.ARRAY_BUFFER, vertexBuffer);
      gl.bufferData(gl.ARRAY_BUFFER, call.vertexCount(m) * 32, gl.DYNAMIC_DRAW);
      gl.enableVertexAttribArray(0);
      gl.vertexAttribPointer(0, 3, gl.FLOAT, false, 32, 0);
      gl.enableVertexAttribArray(1);
      gl.vertexAttribPointer(1, 3, gl.FLOAT, false, 32, 12);
      gl.enableVertexAttribArray(2);
      gl.vertexAttribPointer(2, 2, gl.FLOAT, false, 32, 24);
      const indexBuffer = gl.createBuffer();
      gl.bindBuffer(gl.ELEMENT_ARRAY_BUFFER, indexBuffer);
      const count = call.indexCount(m);
      gl.bufferData(gl.ELEMENT_ARRAY_BUFFER, M.HEAPU32.subarray(call.indices(m) >> 2, (call.indices(m) >> 2) + count), gl.STATIC_DRAW);
      let texture = null;
      const w = call.textureWidth(m), h = call.textureHeight(m);
      if (w > 0) {
        texture = gl.createTexture();
        gl.bindTexture(gl.TEXTURE_2D, texture);
        gl.pixelStorei(gl.UNPACK_ALIGNMENT, 1);
        gl.texImage2D(gl.TEXTURE_2D, 0, gl.RGBA8, w, h, 0, gl.RGBA, gl.UNSIGNED_BYTE,
          M.HEAPU8.subarray(call.texture(m), call.texture(m) + w * h * 4));
        gl.generateMipmap(gl.TEXTURE_2D);
      }
      meshes.push({ vao, vertexBuffer, indexBuffer, count, texture, vertices: call.vertexCount(m) });
    }
    const vao = gl.createVertexArray();
    gl.bindVertexArray(vao);
    const buffer = gl.createBuffer();
    gl.bindBuffer(gl.ARRAY_BUFFER, buffer);
    gl.enableVertexAttribArray(0);
    gl.vertexAttribPointer(0, 3, gl.FLOAT, false, 12, 0);
    bones = { vao, buffer, lines: 0, count: call.boneCount() };
    gl.bindVertexArray(null);

    fillSelect(ui.clip, call.clipCount(), call.clipName);
    fillSelect(ui.blendClip, call.clipCount(), call.clipName, true);
    if (call.clipCount() > 1) ui.blendClip.value = '1';
    return play();
  }

  function play() {
    const clip = call.clipCount() > 0 ? Number(ui.clip.value) : -1;
    const blend = Number(ui.blendClip.value || -1);
    if (clip >= 0 && !call.play(clip, blend === clip ? -1 : blend, Number(ui.weight.value), ui.loop.checked ? 1 : 0)) {
      showError(`The clip cannot be played: ${call.error()}`);
      return false;
    }
    const duration = clip >= 0 ? call.clipDuration(clip) : 0;
    ui.timeline.max = String(Math.max(duration, 0.001));
    time = 0;
    pose();
    fitCamera();
    api.status = 'ready';
    return true;
  }

  // Poses the model at `time` and hands the results to the GPU.
  function pose() {
    const start = performance.now();
    call.pose(time);
    poseTimes.push(performance.now() - start);
    for (let m = 0; m < meshes.length; ++m) {
      const at = call.vertices(m) >> 2;
      gl.bindBuffer(gl.ARRAY_BUFFER, meshes[m].vertexBuffer);
      gl.bufferSubData(gl.ARRAY_BUFFER, 0, M.HEAPF32.subarray(at, at + meshes[m].vertices * 8));
    }
    if (bones) {
      const n = call.boneCount(), parents = call.boneParents() >> 2, positions = call.bonePositions() >> 2;
      const lines = [];
      for (let b = 0; b < n; ++b) {
        const p = M.HEAP32[parents + b];
        if (p < 0 || p >= n) continue;
        for (const i of [p, b]) lines.push(M.HEAPF32[positions + 3 * i], M.HEAPF32[positions + 3 * i + 1], M.HEAPF32[positions + 3 * i + 2]);
      }
      const points = [];
      for (let b = 0; b < n; ++b) points.push(M.HEAPF32[positions + 3 * b], M.HEAPF32[positions + 3 * b + 1], M.HEAPF32[positions + 3 * b + 2]);
      gl.bindBuffer(gl.ARRAY_BUFFER, bones.buffer);
      gl.bufferData(gl.ARRAY_BUFFER, new Float32Array(lines.concat(points)), gl.DYNAMIC_DRAW);
      bones.lines = lines.length / 3;
      bones.points = n;
      bones.positions = points;
    }
  }

  // Frames the posed skeleton and meshes.
  function fitCamera() {
    const lo = [Infinity, Infinity, Infinity], hi = [-Infinity, -Infinity, -Infinity];
    const R = upright(camera.up);
    const add = (x, y, z) => {
      const p = [R[0] * x + R[3] * y + R[6] * z, R[1] * x + R[4] * y + R[7] * z, R[2] * x + R[5] * y + R[8] * z];
      for (let k = 0; k < 3; ++k) { if (!(Math.abs(p[k]) < 1e30)) return; lo[k] = Math.min(lo[k], p[k]); hi[k] = Math.max(hi[k], p[k]); }
    };
    for (let m = 0; m < meshes.length; ++m) {
      const at = call.vertices(m) >> 2;
      for (let v = 0; v < meshes[m].vertices; v += 7) add(M.HEAPF32[at + 8 * v], M.HEAPF32[at + 8 * v + 1], M.HEAPF32[at + 8 * v + 2]);
    }
    if (meshes.length === 0 && bones && bones.positions) {
      // A skeleton alone: its middle 90% on each axis (helper nodes far off the body would
      // otherwise shrink the figure to a dot), widened by a fifth.
      const n = bones.positions.length / 3;
      const axes = [[], [], []];
      for (let i = 0; i < n; ++i) {
        const p = bones.positions;
        const q = [R[0] * p[3 * i] + R[3] * p[3 * i + 1] + R[6] * p[3 * i + 2], R[1] * p[3 * i] + R[4] * p[3 * i + 1] + R[7] * p[3 * i + 2],
          R[2] * p[3 * i] + R[5] * p[3 * i + 1] + R[8] * p[3 * i + 2]];
        for (let k = 0; k < 3; ++k) if (Math.abs(q[k]) < 1e30) axes[k].push(q[k]);
      }
      for (let k = 0; k < 3; ++k) {
        const a = axes[k].sort((x, y) => x - y);
        if (!a.length) return;
        const low = a[Math.floor(0.05 * (a.length - 1))], high = a[Math.ceil(0.95 * (a.length - 1))];
        lo[k] = low - 0.2 * (high - low);
        hi[k] = high + 0.2 * (high - low);
      }
    }
    if (!(lo[0] <= hi[0])) return;
    camera.target = [(lo[0] + hi[0]) / 2, (lo[1] + hi[1]) / 2, (lo[2] + hi[2]) / 2];
    camera.distance = Math.max(Math.hypot(hi[0] - lo[0], hi[1] - lo[1], hi[2] - lo[2]) * 1.3, 1e-3);
  }

  function draw() {
    const w = ui.canvas.clientWidth, h = ui.canvas.clientHeight;
    if (ui.canvas.width !== w || ui.canvas.height !== h) { ui.canvas.width = w; ui.canvas.height = h; }
    gl.viewport(0, 0, w, h);
    gl.clearColor(0.16, 0.17, 0.2, 1);
    gl.clear(gl.COLOR_BUFFER_BIT | gl.DEPTH_BUFFER_BIT);
    const t = camera.target, d = camera.distance;
    const eye = [t[0] + d * Math.sin(camera.yaw) * Math.cos(camera.pitch), t[1] + d * Math.sin(camera.pitch),
      t[2] + d * Math.cos(camera.yaw) * Math.cos(camera.pitch)];
    const vp = multiply(perspective(0.8, w / Math.max(h, 1), d * 0.01, d * 10), lookAt(eye, t));
    const R = upright(camera.up);
    gl.enable(gl.DEPTH_TEST);
    if (ui.showMesh.checked) {
      gl.useProgram(meshProgram);
      gl.uniformMatrix4fv(meshUniforms.viewProjection, false, vp);
      gl.uniformMatrix3fv(meshUniforms.upright, false, R);
      gl.uniform1i(meshUniforms.map, 0);
      for (const m of meshes) {
        gl.uniform1i(meshUniforms.textured, m.texture ? 1 : 0);
        gl.activeTexture(gl.TEXTURE0);
        gl.bindTexture(gl.TEXTURE_2D, m.texture);
        gl.bindVertexArray(m.vao);
        gl.drawElements(gl.TRIANGLES, m.count, gl.UNSIGNED_INT, 0);
      }
    }
    if (ui.showBones.checked && bones && bones.points > 0) {
      gl.disable(gl.DEPTH_TEST);
      gl.useProgram(lineProgram);
      gl.uniformMatrix4fv(lineUniforms.viewProjection, false, vp);
      gl.uniformMatrix3fv(lineUniforms.upright, false, R);
      gl.bindVertexArray(bones.vao);
      gl.uniform4f(lineUniforms.tint, 1.0, 0.8, 0.2, 1);
      gl.drawArrays(gl.LINES, 0, bones.lines);
      gl.uniform4f(lineUniforms.tint, 1.0, 0.4, 0.2, 1);
      gl.drawArrays(gl.POINTS, bones.lines, bones.points);
    }
    gl.bindVertexArray(null);
    api.frames++;
  }

  function showTime() {
    const duration = Number(ui.timeline.max);
    const shown = ui.loop.checked ? time % duration : Math.min(time, duration);
    ui.timeline.value = String(shown);
    ui.timeValue.textContent = shown.toFixed(3);
  }

  function showTimings(now) {
    counterFrames++;
    if (now - countersAt < 500) return;
    const sum = (a) => a.reduce((x, y) => x + y, 0);
    api.poseMs = poseTimes.length ? sum(poseTimes) / poseTimes.length : 0;
    api.frameMs = frameTimes.length ? sum(frameTimes) / frameTimes.length : 0;
    const lines = call.counters().split('\n').filter((l) => l).map((l) => {
      const [name, count, ms, exclusive] = l.split('\t');
      return `${name.padEnd(31)} ${(Number(count) / counterFrames).toFixed(1).padStart(5)} ${(Number(ms) / counterFrames).toFixed(3).padStart(7)} ${(Number(exclusive) / counterFrames).toFixed(3).padStart(7)}`;
    });
    counterText = `${'block'.padEnd(31)} ${'calls'.padStart(5)} ${'ms'.padStart(7)} ${'excl.'.padStart(7)}\n` + lines.join('\n') +
      `\n\npose and skin: ${api.poseMs.toFixed(3)} ms (page)\nwhole frame:   ${api.frameMs.toFixed(3)} ms (page)`;
    ui.timings.textContent = counterText;
    poseTimes = []; frameTimes = []; countersAt = now; counterFrames = 0;
  }

  function frame(now) {
    const dt = last ? (now - last) / 1000 : 0;
    last = now;
    if (api.status === 'ready') {
      const start = performance.now();
      if (playing) {
        time += dt * Number(ui.speed.value);
        pose();
      }
      draw();
      showTime();
      frameTimes.push(performance.now() - start);
      showTimings(now);
    }
    requestAnimationFrame(frame);
  }

  // ---- Controls ---------------------------------------------------------------------------
  async function openUrl(url) {
    api.status = 'loading';
    try {
      const response = await fetch(url);
      if (!response.ok) throw new Error(`${response.status} ${response.statusText}`);
      return openBytes(await response.arrayBuffer(), url.split('/').pop());
    } catch (e) {
      showError(`${url}: cannot be read: ${e.message}`);
      return false;
    }
  }
  async function openFile(file) {
    return openBytes(await file.arrayBuffer(), file.name);
  }

  ui.picker.addEventListener('change', () => { if (ui.picker.files[0]) openFile(ui.picker.files[0]); });
  ui.view.addEventListener('dragover', (e) => { e.preventDefault(); ui.drop.style.display = 'flex'; });
  ui.view.addEventListener('dragleave', () => { ui.drop.style.display = 'none'; });
  ui.view.addEventListener('drop', (e) => {
    e.preventDefault();
    ui.drop.style.display = 'none';
    if (e.dataTransfer.files[0]) openFile(e.dataTransfer.files[0]);
  });
  ui.model.addEventListener('change', () => selectModel(Number(ui.model.value)));
  ui.clip.addEventListener('change', play);
  ui.blendClip.addEventListener('change', play);
  ui.loop.addEventListener('change', () => { const t = time; play(); time = t; pose(); });
  ui.weight.addEventListener('input', () => {
    ui.weightValue.textContent = Number(ui.weight.value).toFixed(2);
    call.setWeight(Number(ui.weight.value));
    if (!playing) { pose(); draw(); }
  });
  ui.speed.addEventListener('input', () => { ui.speedValue.textContent = Number(ui.speed.value).toFixed(2); });
  ui.play.addEventListener('click', () => { playing = !playing; ui.play.textContent = playing ? 'Pause' : 'Play'; });
  ui.timeline.addEventListener('input', () => {
    playing = false;
    ui.play.textContent = 'Play';
    time = Number(ui.timeline.value);
    pose();
    draw();
  });
  let dragging = null;
  ui.canvas.addEventListener('pointerdown', (e) => { dragging = [e.clientX, e.clientY]; ui.canvas.setPointerCapture(e.pointerId); });
  ui.canvas.addEventListener('pointerup', () => { dragging = null; });
  ui.canvas.addEventListener('pointermove', (e) => {
    if (!dragging) return;
    camera.yaw -= (e.clientX - dragging[0]) * 0.01;
    camera.pitch = Math.max(-1.5, Math.min(1.5, camera.pitch + (e.clientY - dragging[1]) * 0.01));
    dragging = [e.clientX, e.clientY];
  });
  ui.canvas.addEventListener('wheel', (e) => { e.preventDefault(); camera.distance *= Math.exp(e.deltaY * 0.001); }, { passive: false });

  // What the browser test drives.
  api.pause = () => { playing = false; ui.play.textContent = 'Play'; };
  api.seek = (seconds) => { time = seconds; pose(); draw(); showTime(); };
  api.checksum = () => call.checksum();
  // Mean milliseconds of `frames` poses (sample, world pose, skinning) 1/60 s apart: the
  // library's share of a frame, as viewer_native measures it natively.
  api.benchmark = (frames) => {
    const start = performance.now();
    for (let f = 0; f < frames; ++f) call.pose(f / 60);
    return (performance.now() - start) / frames;
  };
  api.open = openUrl;

  // Start: the module, then the file the address names (?file=...).
  const wasmUrl = 'orvane_viewer.wasm';
  fetch(wasmUrl).then((r) => r.arrayBuffer()).then((wasmBinary) => OrvaneViewer({ wasmBinary }))
    .then((module) => {
      M = module;
      wrap();
      const file = new URLSearchParams(location.search).get('file');
      if (file) return openUrl(file);
      api.status = 'idle';
      return true;
    })
    .catch((e) => showError(`The viewer cannot start: ${e.message || e}`));
  requestAnimationFrame(frame);
})();
